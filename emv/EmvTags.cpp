// The EMV and PBOC/UnionPay tags that chip card data carries, and the explanation of their values.
#include "emv/EmvTags.h"

#include <algorithm>
#include <array>
#include <vector>

#include "codec/IsoCodes.h"
#include "codec/TextDecode.h"
#include "emv/CardMask.h"

namespace {

using F = TlvFormat;
using X = TlvExplain;

// Names and formats as the EMV books (4.3: the data elements of Books 1 to 3) and the
// PBOC/UnionPay terminal standards give them, with the public contactless tags that field 55
// carries (56, 9F66, 9F6B, 9F6C, 9F6E, 9F7C). Sorted by tag: FindEmvTag searches it.
constexpr EmvTag kTags[] = {
    {0x42, F::N, X::Digits, "Issuer Identification Number", "发卡行标识号"},
    {0x4F, F::B, X::None, "Application Identifier (AID) - card", "应用标识符(AID)-卡片"},
    {0x50, F::Ans, X::Text, "Application Label", "应用标签"},
    {0x56, F::Ans, X::Track1, "Track 1 Data", "磁道1数据"},
    {0x57, F::B, X::Track2, "Track 2 Equivalent Data", "二磁道等效数据"},
    {0x5A, F::Cn, X::Pan, "Application Primary Account Number (PAN)", "应用主账号"},
    {0x61, F::B, X::None, "Application Template", "应用模板"},
    {0x6F, F::B, X::None, "File Control Information (FCI) Template", "FCI模板"},
    {0x70, F::B, X::None, "READ RECORD Response Message Template", "读记录响应报文模板"},
    {0x71, F::B, X::None, "Issuer Script Template 1", "发卡行脚本模板1"},
    {0x72, F::B, X::None, "Issuer Script Template 2", "发卡行脚本模板2"},
    {0x73, F::B, X::None, "Directory Discretionary Template", "目录自定义模板"},
    {0x77, F::B, X::None, "Response Message Template Format 2", "响应报文模板格式2"},
    {0x80, F::B, X::None, "Response Message Template Format 1", "响应报文模板格式1"},
    {0x81, F::B, X::BinaryAmount, "Amount, Authorised (Binary)", "授权金额(二进制)"},
    {0x82, F::B, X::Bits, "Application Interchange Profile", "应用交互特征(AIP)"},
    {0x83, F::B, X::None, "Command Template", "命令模板"},
    {0x84, F::B, X::None, "Dedicated File (DF) Name", "专用文件名称"},
    {0x86, F::B, X::None, "Issuer Script Command", "发卡行脚本命令"},
    {0x87, F::B, X::None, "Application Priority Indicator", "应用优先指示器"},
    {0x88, F::B, X::None, "Short File Identifier (SFI)", "短文件标识符"},
    {0x89, F::An, X::Text, "Authorisation Code", "授权码"},
    {0x8A, F::An, X::Text, "Authorisation Response Code", "授权响应码"},
    {0x8C, F::B, X::None, "Card Risk Management Data Object List 1 (CDOL1)",
     "卡片风险管理数据对象列表1"},
    {0x8D, F::B, X::None, "Card Risk Management Data Object List 2 (CDOL2)",
     "卡片风险管理数据对象列表2"},
    {0x8E, F::B, X::None, "Cardholder Verification Method (CVM) List", "持卡人验证方法(CVM)列表"},
    {0x8F, F::B, X::None, "Certification Authority Public Key Index", "认证中心公钥索引"},
    {0x90, F::B, X::None, "Issuer Public Key Certificate", "发卡行公钥证书"},
    {0x91, F::B, X::None, "Issuer Authentication Data", "发卡行认证数据"},
    {0x92, F::B, X::None, "Issuer Public Key Remainder", "发卡行公钥余项"},
    {0x93, F::B, X::None, "Signed Static Application Data", "签名的静态应用数据"},
    {0x94, F::B, X::None, "Application File Locator (AFL)", "应用文件定位器"},
    {0x95, F::B, X::Bits, "Terminal Verification Results", "终端验证结果(TVR)"},
    {0x97, F::B, X::None, "Transaction Certificate Data Object List (TDOL)",
     "交易证书数据对象列表(TDOL)"},
    {0x98, F::B, X::None, "Transaction Certificate (TC) Hash Value", "交易证书(TC)哈希值"},
    {0x99, F::B, X::None, "Transaction Personal Identification Number (PIN) Data", "交易PIN数据"},
    {0x9A, F::N, X::Date, "Transaction Date", "交易日期"},
    {0x9B, F::B, X::Bits, "Transaction Status Information", "交易状态信息(TSI)"},
    {0x9C, F::N, X::TransType, "Transaction Type", "交易类型"},
    {0x9D, F::B, X::None, "Directory Definition File (DDF) Name", "目录定义文件(DDF)名称"},
    {0xA5, F::B, X::None, "File Control Information (FCI) Proprietary Template", "FCI专用模板"},
    {0x5F20, F::Ans, X::Text, "Cardholder Name", "持卡人姓名"},
    {0x5F24, F::N, X::Date, "Application Expiration Date", "应用失效日期"},
    {0x5F25, F::N, X::Date, "Application Effective Date", "应用生效日期"},
    {0x5F28, F::N, X::Digits, "Issuer Country Code", "发卡行国家代码"},
    {0x5F2A, F::N, X::Currency, "Transaction Currency Code", "交易货币代码"},
    {0x5F2D, F::An, X::Text, "Language Preference", "首选语言"},
    {0x5F30, F::N, X::Digits, "Service Code", "服务码"},
    {0x5F34, F::N, X::Digits, "Application PAN Sequence Number", "应用主账号序列号"},
    {0x5F36, F::N, X::Digits, "Transaction Currency Exponent", "交易货币指数"},
    {0x5F50, F::Ans, X::Text, "Issuer URL", "发卡行URL"},
    {0x5F53, F::Ans, X::Text, "International Bank Account Number (IBAN)", "国际银行账号(IBAN)"},
    {0x5F54, F::Ans, X::Text, "Bank Identifier Code (BIC)", "银行标识码(BIC)"},
    {0x5F55, F::An, X::Text, "Issuer Country Code (alpha2 format)", "发卡行国家代码(2位字母)"},
    {0x5F56, F::An, X::Text, "Issuer Country Code (alpha3 format)", "发卡行国家代码(3位字母)"},
    {0x9F01, F::N, X::Digits, "Acquirer Identifier", "收单行标识"},
    {0x9F02, F::N, X::Amount, "Amount, Authorised (Numeric)", "授权金额"},
    {0x9F03, F::N, X::Amount, "Amount, Other (Numeric)", "其他金额"},
    {0x9F04, F::B, X::BinaryAmount, "Amount, Other (Binary)", "其他金额(二进制)"},
    {0x9F05, F::B, X::None, "Application Discretionary Data", "应用自定义数据"},
    {0x9F06, F::B, X::None, "Application Identifier (AID) - terminal", "应用标识符(AID)-终端"},
    {0x9F07, F::B, X::Bits, "Application Usage Control", "应用用途控制"},
    {0x9F08, F::B, X::None, "Application Version Number - card", "应用版本号-卡片"},
    {0x9F09, F::B, X::None, "Application Version Number - terminal", "应用版本号-终端"},
    {0x9F0A, F::B, X::None, "Application Selection Registered Proprietary Data",
     "应用选择注册专有数据"},
    {0x9F0B, F::Ans, X::Text, "Cardholder Name Extended", "持卡人姓名扩展"},
    {0x9F0D, F::B, X::None, "Issuer Action Code - Default", "发卡行行为代码-缺省"},
    {0x9F0E, F::B, X::None, "Issuer Action Code - Denial", "发卡行行为代码-拒绝"},
    {0x9F0F, F::B, X::None, "Issuer Action Code - Online", "发卡行行为代码-联机"},
    {0x9F10, F::B, X::None, "Issuer Application Data", "发卡行应用数据"},
    {0x9F11, F::N, X::Digits, "Issuer Code Table Index", "发卡行代码表索引"},
    {0x9F12, F::Ans, X::Text, "Application Preferred Name", "应用首选名称"},
    {0x9F13, F::B, X::None, "Last Online ATC Register", "上次联机应用交易计数器"},
    {0x9F14, F::B, X::None, "Lower Consecutive Offline Limit", "连续脱机交易下限"},
    {0x9F15, F::N, X::Digits, "Merchant Category Code", "商户分类码"},
    {0x9F16, F::Ans, X::Text, "Merchant Identifier", "商户标识"},
    {0x9F17, F::B, X::None, "PIN Try Counter", "PIN尝试计数器"},
    {0x9F18, F::B, X::None, "Issuer Script Identifier", "发卡行脚本标识"},
    {0x9F1A, F::N, X::Digits, "Terminal Country Code", "终端国家代码"},
    {0x9F1B, F::B, X::None, "Terminal Floor Limit", "终端最低限额"},
    {0x9F1C, F::An, X::Text, "Terminal Identification", "终端标识"},
    {0x9F1D, F::B, X::None, "Terminal Risk Management Data", "终端风险管理数据"},
    {0x9F1E, F::An, X::Text, "Interface Device (IFD) Serial Number", "接口设备(IFD)序列号"},
    {0x9F1F, F::Ans, X::Text, "Track 1 Discretionary Data", "磁道1自定义数据"},
    {0x9F20, F::Cn, X::Digits, "Track 2 Discretionary Data", "磁道2自定义数据"},
    {0x9F21, F::N, X::Time, "Transaction Time", "交易时间"},
    {0x9F22, F::B, X::None, "Certification Authority Public Key Index - terminal",
     "认证中心公钥索引-终端"},
    {0x9F23, F::B, X::None, "Upper Consecutive Offline Limit", "连续脱机交易上限"},
    {0x9F24, F::An, X::Text, "Payment Account Reference (PAR)", "支付账户参考(PAR)"},
    {0x9F26, F::B, X::None, "Application Cryptogram", "应用密文(AC)"},
    {0x9F27, F::B, X::Cid, "Cryptogram Information Data", "密文信息数据"},
    {0x9F2D, F::B, X::None, "ICC PIN Encipherment Public Key Certificate", "IC卡PIN加密公钥证书"},
    {0x9F2E, F::B, X::None, "ICC PIN Encipherment Public Key Exponent", "IC卡PIN加密公钥指数"},
    {0x9F2F, F::B, X::None, "ICC PIN Encipherment Public Key Remainder", "IC卡PIN加密公钥余项"},
    {0x9F32, F::B, X::None, "Issuer Public Key Exponent", "发卡行公钥指数"},
    {0x9F33, F::B, X::Bits, "Terminal Capabilities", "终端性能"},
    {0x9F34, F::B, X::CvmResults, "Cardholder Verification Method (CVM) Results",
     "持卡人验证方法(CVM)结果"},
    {0x9F35, F::N, X::TerminalType, "Terminal Type", "终端类型"},
    {0x9F36, F::B, X::None, "Application Transaction Counter (ATC)", "应用交易计数器(ATC)"},
    {0x9F37, F::B, X::None, "Unpredictable Number", "不可预知数"},
    {0x9F38, F::B, X::None, "Processing Options Data Object List (PDOL)",
     "处理选项数据对象列表(PDOL)"},
    {0x9F39, F::N, X::Digits, "Point-of-Service (POS) Entry Mode", "服务点输入方式"},
    {0x9F3A, F::B, X::None, "Amount, Reference Currency", "参考货币金额"},
    {0x9F3B, F::N, X::Digits, "Application Reference Currency", "应用参考货币"},
    {0x9F3C, F::N, X::Currency, "Transaction Reference Currency Code", "交易参考货币代码"},
    {0x9F3D, F::N, X::Digits, "Transaction Reference Currency Exponent", "交易参考货币指数"},
    {0x9F40, F::B, X::Bits, "Additional Terminal Capabilities", "附加终端性能"},
    {0x9F41, F::N, X::Digits, "Transaction Sequence Counter", "交易序列计数器"},
    {0x9F42, F::N, X::Currency, "Application Currency Code", "应用货币代码"},
    {0x9F43, F::N, X::Digits, "Application Reference Currency Exponent", "应用参考货币指数"},
    {0x9F44, F::N, X::Digits, "Application Currency Exponent", "应用货币指数"},
    {0x9F45, F::B, X::None, "Data Authentication Code", "数据认证码"},
    {0x9F46, F::B, X::None, "ICC Public Key Certificate", "IC卡公钥证书"},
    {0x9F47, F::B, X::None, "ICC Public Key Exponent", "IC卡公钥指数"},
    {0x9F48, F::B, X::None, "ICC Public Key Remainder", "IC卡公钥余项"},
    {0x9F49, F::B, X::None, "Dynamic Data Authentication Data Object List (DDOL)",
     "动态数据认证数据对象列表(DDOL)"},
    {0x9F4A, F::B, X::None, "Static Data Authentication Tag List", "静态数据认证标签列表"},
    {0x9F4B, F::B, X::None, "Signed Dynamic Application Data", "签名的动态应用数据"},
    {0x9F4C, F::B, X::None, "ICC Dynamic Number", "IC卡动态数"},
    {0x9F4D, F::B, X::None, "Log Entry", "日志入口"},
    {0x9F4E, F::Ans, X::Text, "Merchant Name and Location", "商户名称和位置"},
    {0x9F4F, F::B, X::None, "Log Format", "日志格式"},
    {0x9F51, F::N, X::Currency, "Application Currency Code (PBOC)", "应用货币代码"},
    {0x9F52, F::B, X::None, "Application Default Action (ADA)", "应用缺省行为(ADA)"},
    {0x9F53, F::An, X::Text, "Transaction Category Code", "交易类别代码"},
    {0x9F5B, F::B, X::None, "Issuer Script Results", "发卡行脚本结果"},
    {0x9F5D, F::N, X::Digits, "Available Offline Spending Amount", "可用脱机消费金额"},
    {0x9F63, F::B, X::None, "Card Product Identification Information", "卡产品标识信息"},
    {0x9F66, F::B, X::Bits, "Terminal Transaction Qualifiers (TTQ)", "终端交易属性"},
    {0x9F6B, F::B, X::Track2, "Track 2 Data", "磁道2数据"},
    {0x9F6C, F::B, X::Bits, "Card Transaction Qualifiers (CTQ)", "卡片交易属性"},
    {0x9F6E, F::B, X::FormFactor, "Form Factor Indicator (FFI)", "设备形态指示符(FFI)"},
    {0x9F74, F::An, X::Text, "Electronic Cash Issuer Authorisation Code", "电子现金发卡行授权码"},
    {0x9F79, F::N, X::Digits, "Electronic Cash Balance", "电子现金余额"},
    {0x9F7A, F::B, X::None, "VLP Terminal Support Indicator", "电子现金终端支持指示器"},
    {0x9F7C, F::B, X::None, "Customer Exclusive Data", "客户专用数据"},
    {0xBF0C, F::B, X::None, "File Control Information (FCI) Issuer Discretionary Data",
     "FCI发卡行自定义数据"},
    {0xDF31, F::B, X::None, "Issuer Script Results (UnionPay)", "发卡行脚本结果"},
};

// Tags of fewer bytes are smaller numbers, so sorting by value sorts by byte count first.
constexpr bool SortedByTag() {
    for (std::size_t i = 1; i < std::size(kTags); ++i) {
        if (kTags[i - 1].tag >= kTags[i].tag) return false;
    }
    return true;
}
static_assert(SortedByTag(), "FindEmvTag searches the tags by value");

// The names stand in JSON texts as they are: no quotes, backslashes or control characters.
constexpr bool JsonSafe(std::string_view s) {
    for (const char c : s) {
        if (c == '"' || c == '\\' || (static_cast<unsigned char>(c) < 0x20)) return false;
    }
    return true;
}
constexpr bool NamesJsonSafe() {
    for (const EmvTag& t : kTags) {
        if (!JsonSafe(t.english) || !JsonSafe(t.chinese)) return false;
    }
    return true;
}
static_assert(NamesJsonSafe());

struct Bit {
    std::uint8_t byte;  // 0-based byte of the value
    std::uint8_t mask;
    std::string_view name;
};

constexpr Bit kTvrBits[] = {
    {0, 0x80, "Offline data authentication was not performed"},
    {0, 0x40, "SDA failed"},
    {0, 0x20, "ICC data missing"},
    {0, 0x10, "Card appears on terminal exception file"},
    {0, 0x08, "DDA failed"},
    {0, 0x04, "CDA failed"},
    {0, 0x02, "SDA selected"},
    {1, 0x80, "ICC and terminal have different application versions"},
    {1, 0x40, "Expired application"},
    {1, 0x20, "Application not yet effective"},
    {1, 0x10, "Requested service not allowed for card product"},
    {1, 0x08, "New card"},
    {2, 0x80, "Cardholder verification was not successful"},
    {2, 0x40, "Unrecognised CVM"},
    {2, 0x20, "PIN Try Limit exceeded"},
    {2, 0x10, "PIN entry required and PIN pad not present or not working"},
    {2, 0x08, "PIN entry required, PIN pad present, but PIN was not entered"},
    {2, 0x04, "Online PIN entered"},
    {3, 0x80, "Transaction exceeds floor limit"},
    {3, 0x40, "Lower consecutive offline limit exceeded"},
    {3, 0x20, "Upper consecutive offline limit exceeded"},
    {3, 0x10, "Transaction selected randomly for online processing"},
    {3, 0x08, "Merchant forced transaction online"},
    {4, 0x80, "Default TDOL used"},
    {4, 0x40, "Issuer authentication failed"},
    {4, 0x20, "Script processing failed before final GENERATE AC"},
    {4, 0x10, "Script processing failed after final GENERATE AC"},
};

constexpr Bit kTsiBits[] = {
    {0, 0x80, "Offline data authentication was performed"},
    {0, 0x40, "Cardholder verification was performed"},
    {0, 0x20, "Card risk management was performed"},
    {0, 0x10, "Issuer authentication was performed"},
    {0, 0x08, "Terminal risk management was performed"},
    {0, 0x04, "Script processing was performed"},
};

constexpr Bit kAipBits[] = {
    {0, 0x40, "SDA supported"},
    {0, 0x20, "DDA supported"},
    {0, 0x10, "Cardholder verification is supported"},
    {0, 0x08, "Terminal risk management is to be performed"},
    {0, 0x04, "Issuer authentication is supported"},
    {0, 0x01, "CDA supported"},
};

constexpr Bit kTerminalCapabilityBits[] = {
    {0, 0x80, "Manual key entry"},
    {0, 0x40, "Magnetic stripe"},
    {0, 0x20, "IC with contacts"},
    {1, 0x80, "Plaintext PIN for ICC verification"},
    {1, 0x40, "Enciphered PIN for online verification"},
    {1, 0x20, "Signature (paper)"},
    {1, 0x10, "Enciphered PIN for offline verification"},
    {1, 0x08, "No CVM required"},
    {2, 0x80, "SDA"},
    {2, 0x40, "DDA"},
    {2, 0x20, "Card capture"},
    {2, 0x08, "CDA"},
};

constexpr Bit kAdditionalCapabilityBits[] = {
    {0, 0x80, "Cash"},
    {0, 0x40, "Goods"},
    {0, 0x20, "Services"},
    {0, 0x10, "Cashback"},
    {0, 0x08, "Inquiry"},
    {0, 0x04, "Transfer"},
    {0, 0x02, "Payment"},
    {0, 0x01, "Administrative"},
    {1, 0x80, "Cash deposit"},
    {2, 0x80, "Numeric keys"},
    {2, 0x40, "Alphabetic and special characters keys"},
    {2, 0x20, "Command keys"},
    {2, 0x10, "Function keys"},
    {3, 0x80, "Print, attendant"},
    {3, 0x40, "Print, cardholder"},
    {3, 0x20, "Display, attendant"},
    {3, 0x10, "Display, cardholder"},
    {3, 0x02, "Code table 10"},
    {3, 0x01, "Code table 9"},
    {4, 0x80, "Code table 8"},
    {4, 0x40, "Code table 7"},
    {4, 0x20, "Code table 6"},
    {4, 0x10, "Code table 5"},
    {4, 0x08, "Code table 4"},
    {4, 0x04, "Code table 3"},
    {4, 0x02, "Code table 2"},
    {4, 0x01, "Code table 1"},
};

constexpr Bit kUsageControlBits[] = {
    {0, 0x80, "Valid for domestic cash transactions"},
    {0, 0x40, "Valid for international cash transactions"},
    {0, 0x20, "Valid for domestic goods"},
    {0, 0x10, "Valid for international goods"},
    {0, 0x08, "Valid for domestic services"},
    {0, 0x04, "Valid for international services"},
    {0, 0x02, "Valid at ATMs"},
    {0, 0x01, "Valid at terminals other than ATMs"},
    {1, 0x80, "Domestic cashback allowed"},
    {1, 0x40, "International cashback allowed"},
};

// Contactless terminals and cards (EMV contactless Book C-3, as qPBOC/qUICS uses them).
constexpr Bit kTtqBits[] = {
    {0, 0x80, "Mag-stripe mode supported"},
    {0, 0x20, "EMV mode supported"},
    {0, 0x10, "EMV contact chip supported"},
    {0, 0x08, "Offline-only reader"},
    {0, 0x04, "Online PIN supported"},
    {0, 0x02, "Signature supported"},
    {0, 0x01, "Offline data authentication for online authorizations supported"},
    {1, 0x80, "Online cryptogram required"},
    {1, 0x40, "CVM required"},
    {1, 0x20, "Contact chip offline PIN supported"},
    {2, 0x80, "Issuer update processing supported"},
    {2, 0x40, "Consumer device CVM supported"},
};

constexpr Bit kCtqBits[] = {
    {0, 0x80, "Online PIN required"},
    {0, 0x40, "Signature required"},
    {0, 0x20, "Go online if offline data authentication fails and reader is online capable"},
    {0, 0x10,
     "Switch interface if offline data authentication fails and reader supports contact "
     "chip"},
    {0, 0x08, "Go online if application expired"},
    {0, 0x04, "Switch interface for cash transactions"},
    {0, 0x02, "Switch interface for cashback transactions"},
    {1, 0x80, "Consumer device CVM performed"},
    {1, 0x40, "Card supports issuer update processing at the POS"},
};

std::span<const Bit> BitsOf(std::uint32_t tag) {
    switch (tag) {
        case 0x95:
            return kTvrBits;
        case 0x9B:
            return kTsiBits;
        case 0x82:
            return kAipBits;
        case 0x9F33:
            return kTerminalCapabilityBits;
        case 0x9F40:
            return kAdditionalCapabilityBits;
        case 0x9F07:
            return kUsageControlBits;
        case 0x9F66:
            return kTtqBits;
        case 0x9F6C:
            return kCtqBits;
        default:
            return {};
    }
}

char Nibble(std::span<const std::uint8_t> v, std::size_t i) {
    const std::uint8_t n = (i % 2 == 0) ? v[i / 2] >> 4 : v[i / 2] & 0x0F;
    return "0123456789ABCDEF"[n];
}

// The BCD digits of a value, all nibbles.
void AppendNibbles(std::string& out, std::span<const std::uint8_t> v) {
    for (std::size_t i = 0; i < 2 * v.size(); ++i) out += Nibble(v, i);
}

// The value of n BCD digits, or -1 when a nibble is not a digit (or the number is too long).
std::int64_t BcdNumber(std::span<const std::uint8_t> v) {
    if (v.size() > 9) return -1;
    std::int64_t n = 0;
    for (std::size_t i = 0; i < 2 * v.size(); ++i) {
        const char c = Nibble(v, i);
        if (c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

void AppendText(std::string& out, std::span<const std::uint8_t> v) {
    for (const std::uint8_t b : v) {
        // Control characters would break the row; code page 936 characters pass unchanged.
        out += (b < 0x20 || b == 0x7F) ? '.' : static_cast<char>(b);
    }
}

void AppendBits(std::string& out, std::span<const Bit> bits, std::span<const std::uint8_t> v) {
    bool first = true;
    for (const Bit& b : bits) {
        if (b.byte >= v.size() || (v[b.byte] & b.mask) == 0) continue;
        if (!first) out += "; ";
        out.append(b.name);
        first = false;
    }
    if (first) out += "no bit set";
}

int TwoDigits(std::span<const std::uint8_t> v, std::size_t byte) {
    return (v[byte] >> 4) * 10 + (v[byte] & 0x0F);
}

// YYMMDD: the calendar date, or the digits and that they are no date.
void AppendDate(std::string& out, std::span<const std::uint8_t> v) {
    bool valid = v.size() == 3 && BcdNumber(v) >= 0;
    int year = 0;
    if (valid) {
        // Two-digit years below 50 are 20xx, the others 19xx, as the EMV books rule.
        const int yy = TwoDigits(v, 0);
        year = yy < 50 ? 2000 + yy : 1900 + yy;
        const int month = TwoDigits(v, 1);
        const int day = TwoDigits(v, 2);
        static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
        valid = month >= 1 && month <= 12 && day >= 1 &&
                day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    }
    if (!valid) {
        AppendNibbles(out, v);
        out += " (invalid date)";
        return;
    }
    out += std::to_string(year);
    for (std::size_t i = 2; i < 6; ++i) {
        if (i % 2 == 0) out += '-';
        out += Nibble(v, i);
    }
}

// HHMMSS: the time of day, or the digits and that they are no time.
void AppendTime(std::string& out, std::span<const std::uint8_t> v) {
    const bool valid = v.size() == 3 && BcdNumber(v) >= 0 && TwoDigits(v, 0) < 24 &&
                       TwoDigits(v, 1) < 60 && TwoDigits(v, 2) < 60;
    if (!valid) {
        AppendNibbles(out, v);
        out += " (invalid time)";
        return;
    }
    for (std::size_t i = 0; i < 6; ++i) {
        if (i == 2 || i == 4) out += ':';
        out += Nibble(v, i);
    }
}

void AppendMinorUnits(std::string& out, std::int64_t minor, int currency);

void AppendAmount(std::string& out, std::span<const std::uint8_t> v, int currency) {
    const std::int64_t minor = BcdNumber(v);
    if (minor < 0) {
        AppendNibbles(out, v);
        return;
    }
    AppendMinorUnits(out, minor, currency);
}

// b 4: the amount as a big-endian binary count of minor units.
void AppendBinaryAmount(std::string& out, std::span<const std::uint8_t> v, int currency) {
    if (v.empty() || v.size() > 4) return;
    std::int64_t minor = 0;
    for (const std::uint8_t b : v) minor = minor << 8 | b;
    AppendMinorUnits(out, minor, currency);
}

void AppendMinorUnits(std::string& out, std::int64_t minor, int currency) {
    const CurrencyInfo c = FindCurrency(currency);
    std::int64_t scale = 1;
    for (int k = 0; k < c.exponent; ++k) scale *= 10;
    out += std::to_string(minor / scale);
    if (c.exponent > 0) {
        std::string frac = std::to_string(minor % scale);
        out += '.';
        out.append(static_cast<std::size_t>(c.exponent) - frac.size(), '0');
        out += frac;
    }
    if (!c.letters.empty()) {
        out += ' ';
        out.append(c.letters);
    }
}

void AppendTransactionType(std::string& out, std::span<const std::uint8_t> v) {
    AppendNibbles(out, v);
    if (v.size() != 1) return;
    std::string_view name;
    switch (v[0]) {
        case 0x00:
            name = "goods and services";
            break;
        case 0x01:
            name = "cash";
            break;
        case 0x09:
            name = "purchase with cashback";
            break;
        case 0x20:
            name = "refund";
            break;
        case 0x30:
            name = "balance inquiry";
            break;
        case 0x31:
            name = "balance inquiry";
            break;
        case 0x40:
            name = "transfer";
            break;
        case 0x60:
            name = "electronic cash load to the same account";
            break;
        case 0x62:
            name = "electronic cash load from another account";
            break;
        case 0x63:
            name = "electronic cash load in cash";
            break;
        default:
            return;
    }
    out += ' ';
    out.append(name);
}

void AppendCid(std::string& out, std::span<const std::uint8_t> v) {
    if (v.size() != 1) return;
    static constexpr std::string_view kTypes[] = {"AAC", "TC", "ARQC", "RFU"};
    out.append(kTypes[v[0] >> 6]);
    if (v[0] & 0x08) out += "; advice required";
    switch (v[0] & 0x07) {
        case 1:
            out += "; service not allowed";
            break;
        case 2:
            out += "; PIN Try Limit exceeded";
            break;
        case 3:
            out += "; issuer authentication failed";
            break;
        default:
            break;
    }
}

void AppendCvmResults(std::string& out, std::span<const std::uint8_t> v) {
    if (v.size() != 3) return;
    std::string_view method;
    switch (v[0] & 0x3F) {
        case 0x00:
            method = "Fail CVM processing";
            break;
        case 0x01:
            method = "Plaintext PIN verification performed by ICC";
            break;
        case 0x02:
            method = "Enciphered PIN verified online";
            break;
        case 0x03:
            method = "Plaintext PIN verification performed by ICC and signature";
            break;
        case 0x04:
            method = "Enciphered PIN verification performed by ICC";
            break;
        case 0x05:
            method = "Enciphered PIN verification performed by ICC and signature";
            break;
        case 0x1E:
            method = "Signature";
            break;
        case 0x1F:
            method = "No CVM required";
            break;
        case 0x3F:
            method = "No CVM performed";
            break;
        default:
            method = "CVM code not known";
            break;
    }
    out.append(method);
    if (v[0] & 0x40) out += "; apply succeeding CV rule if this one is unsuccessful";
    static constexpr std::string_view kConditions[] = {
        "always",
        "if unattended cash",
        "if not unattended cash and not manual cash and not purchase with cashback",
        "if terminal supports the CVM",
        "if manual cash",
        "if purchase with cashback",
        "if transaction is in the application currency and is under X value",
        "if transaction is in the application currency and is over X value",
        "if transaction is in the application currency and is under Y value",
        "if transaction is in the application currency and is over Y value",
    };
    if (v[1] < std::size(kConditions)) {
        out += "; ";
        out.append(kConditions[v[1]]);
    }
    static constexpr std::string_view kResults[] = {"unknown", "failed", "successful"};
    if (v[2] < std::size(kResults)) {
        out += "; result ";
        out.append(kResults[v[2]]);
    }
}

// 9F35, n 2: who operates the terminal (1 financial institution, 2 merchant, 3 cardholder),
// then whether it is attended and how it goes online (1 to 3 attended, 4 to 6 unattended).
void AppendTerminalType(std::string& out, std::span<const std::uint8_t> v) {
    AppendNibbles(out, v);
    if (v.size() != 1) return;
    static constexpr std::string_view kOperators[] = {"financial institution", "merchant",
                                                      "cardholder"};
    static constexpr std::string_view kKinds[] = {
        "attended, online only",
        "attended, offline with online capability",
        "attended, offline only",
        "unattended, online only",
        "unattended, offline with online capability",
        "unattended, offline only",
    };
    const int who = v[0] >> 4;
    const int kind = v[0] & 0x0F;
    // Cardholder terminals are unattended only.
    if (who < 1 || who > 3 || kind < 1 || kind > 6 || (who == 3 && kind < 4)) {
        out += " (not a terminal type)";
        return;
    }
    out += ' ';
    out.append(kKinds[kind - 1]);
    out += ", operated by ";
    out.append(kOperators[who - 1]);
}

// 9F6E: the first byte's version (bits 8-6) and form factor (bits 5-1) of the contactless
// device; the form factors named are the ones the public kernel books list.
void AppendFormFactor(std::string& out, std::span<const std::uint8_t> v) {
    if (v.empty()) return;
    static constexpr std::string_view kForms[] = {"standard card", "mini card",
                                                  "non-card form factor", "consumer mobile phone"};
    const int form = v[0] & 0x1F;
    out += "version " + std::to_string(v[0] >> 5) + "; ";
    if (form < static_cast<int>(std::size(kForms))) {
        out.append(kForms[form]);
    } else {
        out += "form factor " + std::to_string(form);
    }
}

// Track 1 data as its characters, the card number (after the format code, up to '^') hidden in
// the middle when masking.
void AppendTrack1(std::string& out, std::span<const std::uint8_t> v, bool mask) {
    const std::size_t start = out.size();
    AppendText(out, v);
    if (!mask) return;
    const std::string_view text(out.data() + start, out.size() - start);
    const HiddenRange r = CardNumberHiddenRange(text, CardData::Track1);
    for (std::size_t i = r.begin; i < r.end; ++i) out[start + i] = '*';
}

// The digits of BCD card data as a text: D (the track 2 separator) as '=', F (padding) left out.
void AppendCardDigits(std::string& out, std::span<const std::uint8_t> v, bool track2, bool mask) {
    const std::size_t start = out.size();
    for (std::size_t i = 0; i < 2 * v.size(); ++i) {
        const char c = Nibble(v, i);
        if (c == 'F') continue;
        out += (track2 && c == 'D') ? '=' : c;
    }
    if (!mask) return;
    const std::string_view digits(out.data() + start, out.size() - start);
    const HiddenRange r = CardNumberHiddenRange(digits, track2 ? CardData::Track2 : CardData::Pan);
    for (std::size_t i = r.begin; i < r.end; ++i) out[start + i] = '*';
}

}  // namespace

const EmvTag* FindEmvTag(std::uint32_t tag) {
    const auto* it = std::lower_bound(std::begin(kTags), std::end(kTags), tag,
                                      [](const EmvTag& e, std::uint32_t t) { return e.tag < t; });
    return (it != std::end(kTags) && it->tag == tag) ? it : nullptr;
}

std::span<const EmvTag> EmvTags() { return kTags; }

std::string_view ChineseNameGbk(const EmvTag& t) {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v;
        v.reserve(std::size(kTags));
        for (const EmvTag& e : kTags) v.push_back(Utf8ToGbk(e.chinese));
        return v;
    }();
    const auto index = static_cast<std::size_t>(&t - kTags);
    return index < names.size() ? std::string_view(names[index]) : std::string_view{};
}

CurrencyInfo FindCurrency(int numeric) {
    const IsoCurrency* c = FindIsoCurrency(numeric);
    if (c == nullptr) return {};
    return {c->letters, c->exponent};
}

void AppendTlvExplanation(std::string& out, const EmvTag& t, std::span<const std::uint8_t> value,
                          const TlvContext& context) {
    switch (t.explain) {
        case X::None:
            return;
        case X::Digits:
            if (t.format == F::Cn) {
                AppendCardDigits(out, value, false, false);
            } else {
                AppendNibbles(out, value);
            }
            return;
        case X::Text:
            AppendText(out, value);
            return;
        case X::Date:
            AppendDate(out, value);
            return;
        case X::Time:
            AppendTime(out, value);
            return;
        case X::Amount:
            AppendAmount(out, value, context.currency);
            return;
        case X::Currency: {
            AppendNibbles(out, value);
            const std::int64_t code = BcdNumber(value);
            const CurrencyInfo c = FindCurrency(code < 0 ? -1 : static_cast<int>(code));
            if (!c.letters.empty()) {
                out += ' ';
                out.append(c.letters);
            }
            return;
        }
        case X::TransType:
            AppendTransactionType(out, value);
            return;
        case X::Bits:
            AppendBits(out, BitsOf(t.tag), value);
            return;
        case X::Cid:
            AppendCid(out, value);
            return;
        case X::CvmResults:
            AppendCvmResults(out, value);
            return;
        case X::Pan:
            AppendCardDigits(out, value, false, context.mask);
            return;
        case X::Track2:
            AppendCardDigits(out, value, true, context.mask);
            return;
        case X::Track1:
            AppendTrack1(out, value, context.mask);
            return;
        case X::BinaryAmount:
            AppendBinaryAmount(out, value, context.currency);
            return;
        case X::TerminalType:
            AppendTerminalType(out, value);
            return;
        case X::FormFactor:
            AppendFormFactor(out, value);
            return;
    }
}
