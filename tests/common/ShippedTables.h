// A shipped field table loaded for a test: a problem fails the test and gives an empty table.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include "tables/TableFile.h"

inline FieldTable Shipped(std::string_view name) {
    const ShippedTable* s = FindShippedTable(name);
    EXPECT_NE(s, nullptr) << name;
    TableLoad load = LoadJsonTable(s != nullptr ? s->text : "");
    EXPECT_TRUE(load.Ok()) << name << ": " << (load.problems.empty() ? "" : load.problems.front());
    return load.Ok() ? *load.table : FieldTable{};
}
