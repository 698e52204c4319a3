// Reading a jPOS GenericPackager XML file as a field table: the common field classes only.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "tables/TableCheck.h"
#include "tables/TableFile.h"

namespace {

/// What a jPOS field class means on the wire.
struct JposClass {
    std::string_view name;  ///< without the "org.jpos.iso." package
    bool fixed;
    PrefixEnc prefixEnc;
    std::int32_t prefixBytes;
    DataEnc enc;
};

constexpr JposClass kClasses[] = {
    {"IFB_NUMERIC", true, PrefixEnc::Bcd, 0, DataEnc::Bcd},
    {"IFB_LLNUM", false, PrefixEnc::Bcd, 1, DataEnc::Bcd},
    {"IFB_LLLNUM", false, PrefixEnc::Bcd, 2, DataEnc::Bcd},
    {"IFB_LLCHAR", false, PrefixEnc::Bcd, 1, DataEnc::Ascii},
    {"IFB_LLLCHAR", false, PrefixEnc::Bcd, 2, DataEnc::Ascii},
    {"IFB_BINARY", true, PrefixEnc::Bcd, 0, DataEnc::Binary},
    {"IFB_LLBINARY", false, PrefixEnc::Bcd, 1, DataEnc::Binary},
    {"IFB_LLLBINARY", false, PrefixEnc::Bcd, 2, DataEnc::Binary},
    {"IFB_LLHBINARY", false, PrefixEnc::Binary, 1, DataEnc::Binary},
    {"IF_CHAR", true, PrefixEnc::Ascii, 0, DataEnc::Ascii},
    {"IFA_NUMERIC", true, PrefixEnc::Ascii, 0, DataEnc::Ascii},
    {"IFA_LLNUM", false, PrefixEnc::Ascii, 2, DataEnc::Ascii},
    {"IFA_LLLNUM", false, PrefixEnc::Ascii, 3, DataEnc::Ascii},
    {"IFA_LLCHAR", false, PrefixEnc::Ascii, 2, DataEnc::Ascii},
    {"IFA_LLLCHAR", false, PrefixEnc::Ascii, 3, DataEnc::Ascii},
    {"IFA_LLBINARY", false, PrefixEnc::Ascii, 2, DataEnc::Binary},
    {"IFA_LLLBINARY", false, PrefixEnc::Ascii, 3, DataEnc::Binary},
};

constexpr std::string_view kPackage = "org.jpos.iso.";

std::string_view ShortClassName(std::string_view cls) {
    return cls.starts_with(kPackage) ? cls.substr(kPackage.size()) : cls;
}

std::optional<std::int32_t> Number(const char* text) {
    const std::string_view s(text);
    std::int32_t n = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), n);
    if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
    return n;
}

/// The bitmap field: IFB_BITMAP (binary) or IFA_BITMAP (hex characters); length in bytes, 8 for
/// a primary bitmap alone, 16 with the secondary bitmap signalled by bit 1.
bool ReadBitmapField(std::string_view cls, std::int32_t length, FieldTable& t,
                     std::vector<std::string>& problems) {
    if (cls != "IFB_BITMAP" && cls != "IFA_BITMAP") return false;
    t.bitmap.enc = cls == "IFB_BITMAP" ? BitmapEnc::Binary : BitmapEnc::Ascii;
    if (length == 8) {
        t.bitmap.bits = 64;
        t.bitmap.secondary = SecondaryBitmap::Never;
    } else if (length == 16) {
        t.bitmap.bits = 128;
        t.bitmap.secondary = SecondaryBitmap::Bit1;
    } else {
        problems.push_back("field 1, attribute \"length\": " + std::to_string(length) +
                           " bitmap bytes; 8 or 16 are read");
    }
    return true;
}

constexpr std::string_view kSubFieldPackager = "org.jpos.iso.packager.GenericSubFieldPackager";

const JposClass* FindClass(std::string_view cls) {
    for (const auto& k : kClasses) {
        if (k.name == cls) return &k;
    }
    return nullptr;
}

/// The positional sub-fields of a GenericSubFieldPackager element, in the order of their ids,
/// as the JSON tables describe them: each child's length and the encoding of its class (digits
/// of a BCD parent). Only fixed classes have a place of their own in the data, and a bitmap
/// inside the field makes no place fixed; otherwise the reason, and the field is shown whole.
std::optional<std::vector<SubField>> ReadJposSubFields(pugi::xml_node node,
                                                       const std::string& parentPath,
                                                       bool bcdParent, int depth,
                                                       std::string& reason) {
    if (node.attribute("emitBitmap").as_bool()) {
        reason = "its sub-fields carry a bitmap";
        return std::nullopt;
    }
    std::vector<std::pair<std::int32_t, SubField>> numbered;
    for (const pugi::xml_node child : node.children()) {
        const std::string_view element = child.name();
        if (element != "isofield" && element != "isofieldpackager") continue;
        const auto id = Number(child.attribute("id").value());
        const std::string path = parentPath + "." + child.attribute("id").value();
        if (!id || *id < 0) {
            reason = "a sub-field of " + parentPath + " has no number in \"id\"";
            return std::nullopt;
        }
        const std::string_view cls = ShortClassName(child.attribute("class").value());
        const JposClass* c = FindClass(cls);
        if (c == nullptr || !c->fixed) {
            reason = "sub-field " + path + " has class " + std::string(cls) +
                     " (only fixed classes have a place of their own)";
            return std::nullopt;
        }
        const auto length = Number(child.attribute("length").value());
        if (!length || *length < 1 || *length > kMaxFieldLength) {
            reason = "sub-field " + path + " has no length of 1.." +
                     std::to_string(kMaxFieldLength);
            return std::nullopt;
        }
        SubField sf;
        sf.path = path;
        sf.name = child.attribute("name").value();
        sf.length = *length;
        sf.enc = bcdParent ? DataEnc::Bcd : c->enc;  // a BCD field's slices are digits
        if (element == "isofieldpackager") {
            if (std::string_view(child.attribute("packager").value()) != kSubFieldPackager ||
                depth >= 2) {
                reason = "sub-field " + path + " has sub-fields that are not positional";
                return std::nullopt;
            }
            auto nested = ReadJposSubFields(child, path, sf.enc == DataEnc::Bcd, depth + 1, reason);
            if (!nested) return std::nullopt;
            sf.subfields = std::move(*nested);
        }
        numbered.emplace_back(*id, std::move(sf));
    }
    if (numbered.empty()) {
        reason = "it lists no sub-fields";
        return std::nullopt;
    }
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < numbered.size(); ++i) {
        if (numbered[i].first == numbered[i - 1].first) {
            reason = "sub-field " + numbered[i].second.path + " is defined twice";
            return std::nullopt;
        }
    }
    std::vector<SubField> out;
    out.reserve(numbered.size());
    for (auto& [id, sf] : numbered) out.push_back(std::move(sf));
    return out;
}

}  // namespace

TableLoad LoadJposTable(std::string_view text) {
    TableLoad load;
    std::vector<std::string>& problems = load.problems;
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_auto);
    if (!parsed) {
        problems.push_back("offset " + std::to_string(parsed.offset) +
                           ": malformed XML: " + parsed.description());
        return load;
    }
    const pugi::xml_node root = doc.child("isopackager");
    if (!root) {
        problems.emplace_back("the root element must be <isopackager>");
        return load;
    }
    FieldTable t;
    t.name = "jPOS GenericPackager";
    t.charset = "GBK";
    t.bitmap = BitmapSpec{128, SecondaryBitmap::Bit1, BitmapEnc::Binary};
    t.fields.assign(129, FieldDef{});
    if (const pugi::xml_attribute h = root.attribute("headerLength")) {
        const auto n = Number(h.value());
        if (!n || *n < 0 || *n > kMaxFrameBytes) {
            problems.push_back("<isopackager>, attribute \"headerLength\": must be 0.." +
                               std::to_string(kMaxFrameBytes));
        } else if (*n > 0) {
            FramePart header;
            header.kind = FramePartKind::Header;
            header.name = "Header";
            header.bytes = *n;
            header.packDefault.assign(static_cast<std::size_t>(*n), 0);
            t.frame.push_back(std::move(header));
        }
    }
    // The bitmap's class decides the field count, so it is read first.
    std::vector<std::pair<std::int32_t, pugi::xml_node>> fieldNodes;
    for (const pugi::xml_node node : root.children()) {
        const std::string_view element = node.name();
        if (element != "isofield" && element != "isofieldpackager") continue;
        const auto id = Number(node.attribute("id").value());
        if (!id || *id < 0) {
            problems.push_back("offset " + std::to_string(node.offset_debug()) + ": <" +
                               std::string(element) + "> without a field number in \"id\"");
            continue;
        }
        if (*id == 1) {
            const std::string_view cls = ShortClassName(node.attribute("class").value());
            const auto length = Number(node.attribute("length").value()).value_or(0);
            if (!ReadBitmapField(cls, length, t, problems)) {
                problems.push_back("field 1: class " + std::string(cls) +
                                   " is not read (the bitmap must be IFB_BITMAP or IFA_BITMAP)");
            }
            t.fields[1].name = node.attribute("name").value();
            continue;
        }
        fieldNodes.emplace_back(*id, node);
    }
    t.fields.resize(static_cast<std::size_t>(t.bitmap.bits) + 1);
    for (const auto& [id, node] : fieldNodes) {
        const std::string where = "field " + std::to_string(id);
        if (id > t.bitmap.bits) {
            problems.push_back(where + ": outside the " + std::to_string(t.bitmap.bits) +
                               "-bit bitmap (fields 0.." + std::to_string(t.bitmap.bits) + ")");
            continue;
        }
        FieldDef& f = t.fields[static_cast<std::size_t>(id)];
        if (f.Defined()) {
            problems.push_back(where + ": defined twice");
            continue;
        }
        const std::string_view cls = ShortClassName(node.attribute("class").value());
        const JposClass* c = FindClass(cls);
        if (*node.attribute("class").value() == '\0') {
            problems.push_back(where + ": attribute \"class\" is missing");
            continue;
        }
        if (c == nullptr) {
            problems.push_back(where + ", attribute \"class\": class " +
                               std::string(node.attribute("class").value()) +
                               " is not supported (EBCDIC, amount and custom classes are not "
                               "read)");
            continue;
        }
        const auto length = Number(node.attribute("length").value());
        if (!length || *length < 1 || *length > kMaxFieldLength) {
            problems.push_back(where + ", attribute \"length\": must be 1.." +
                               std::to_string(kMaxFieldLength));
            continue;
        }
        f.name = node.attribute("name").value();
        f.fixed = c->fixed;
        f.prefixEnc = c->prefixEnc;
        f.prefixBytes = c->prefixBytes;
        f.enc = c->enc;
        f.maxLen = *length;
        // jPOS pads odd BCD digit counts on the left with pad="true", on the right otherwise.
        f.pad = node.attribute("pad").as_bool() ? PadSide::Left : PadSide::Right;
        f.rowText = f.enc == DataEnc::Ascii ? RowTextPart::Data : RowTextPart::None;
        CheckFieldLength(f, where, problems);
        if (std::string_view(node.name()) == "isofieldpackager") {
            // A GenericSubFieldPackager's children are positional sub-fields; any other
            // packager (a bitmap, tags) keeps the field whole.
            std::string reason = "its packager is not GenericSubFieldPackager";
            std::optional<std::vector<SubField>> subs;
            if (std::string_view(node.attribute("packager").value()) == kSubFieldPackager) {
                subs = ReadJposSubFields(node, std::to_string(id), f.enc == DataEnc::Bcd, 1,
                                         reason);
            }
            if (subs) {
                auto explain = std::make_shared<FieldExplain>();
                explain->subfields = std::move(*subs);
                f.explain = std::move(explain);
            } else {
                load.notes.push_back(where + ": its sub-fields are not decoded (" + reason +
                                     "); the field is shown whole");
            }
        }
    }
    DefaultHeadRows(t, false, false);
    CompleteTable(t, problems);
    if (problems.empty()) load.table = std::move(t);
    return load;
}
