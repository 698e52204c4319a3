// Rows of decoded 64-field and 128-field messages: the engine's row builder with their forms.
#include "codec/Rows.h"

#include "codec/PosPack.h"
#include "codec/PosPackExt.h"

std::int32_t BuildRows(RowAppender& rows, const CCupPosPack& pack) {
    const FieldTable& form = BuiltinTable(BuiltinForm::kUnionPay64);
    if (pack.m_hasTpdu == 1) {
        AppendFrameRows(rows, form.frame[1], pack.m_tpdu.data(), 1);
        AppendFrameRows(rows, form.frame[2], pack.m_header.data(), 2);
    }
    AppendBodyRows(rows, form, pack.m_attr, pack.m_fieldList, pack.m_value);
    return 0;
}

std::int32_t BuildRows(RowAppender& rows, const CCupPosPackExt& pack) {
    const FieldTable& form = BuiltinTable(BuiltinForm::kUnionPay128);
    if (pack.m_hasHeader == 1) {
        AppendFrameRows(rows, form.frame[1], reinterpret_cast<const std::uint8_t*>(&pack.m_header), 1);
    }
    AppendBodyRows(rows, form, pack.m_attr, pack.m_fieldList, pack.m_value);
    return 0;
}

std::int32_t BuildRows(FieldRowList& rows, const CCupPosPack& pack) {
    RowAppender out(rows);
    return BuildRows(out, pack);
}

std::int32_t BuildRows(FieldRowList& rows, const CCupPosPackExt& pack) {
    RowAppender out(rows);
    return BuildRows(out, pack);
}
