// The window's Chinese for the core's English phrases, and the sentences of a send's end.
#include "ui/WindowTexts.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>
#include <string>
#include <vector>

namespace {

/// One phrase pattern of the core and its Chinese form: %1.. stand for the pattern's groups;
/// the groups whose bit is set in `nested` are phrases themselves and are translated too.
struct Phrase {
    const char* english;
    const char* chinese;
    unsigned nested = 0;
};

// Wrappers first (they hold other phrases), then the phrases of the engine, the builds, the
// trade and JSON packet commands, files, the send and the simulated host.
constexpr Phrase kPhrases[] = {
    {R"re((.+) \(byte (\d+)\))re", "%1（第 %2 字节）", 1u},
    {R"re(row (\d+) "(.*)": (.+))re", "第 %1 行“%2”：%3", 4u},
    {R"re(rule (\d+): (.+))re", "规则 %1：%2", 2u},
    {R"re(offset (\d+): (.+))re", "偏移 %1：%2", 2u},
    {R"re(line (\d+): (.+))re", "第 %1 行：%2", 2u},
    {R"re((.+); read as the maximum)re", "%1，按最大长度读取", 1u},
    {R"re(the built message of (\d+) bytes does not decode: (.+))re",
     "生成的 %1 字节报文无法解析：%2", 2u},
    {R"re(reading the reply: (.+))re", "读取应答时出错：%1", 1u},
    {R"re(the connection was reset: (.+))re", "连接被重置：%1", 1u},
    {R"re(the answer could not be sent: (.+))re", "应答无法发出：%1", 1u},
    {R"re(the answer cannot be packed with the table: (.+))re", "应答无法按域定义组包：%1", 1u},
    {R"re(connect to ([^ ]+): (.+))re", "连接 %1：%2", 2u},
    {R"re(sent (\d+) of (\d+) bytes: (.+))re", "只发出了 %2 字节中的 %1 字节：%3", 4u},
    {R"re(not JSON: (.+))re", "不是 JSON：%1", 1u},
    {R"re(field (\d+): (.+))re", "域 %1：%2", 2u},
    {R"re(field (\d+\.[^:]+): (.+))re", "子域 %1：%2", 2u},
    {R"re((.+); the rest is shown whole in row "(.*)")re", "%1；其余部分整体显示在“%2”行", 1u},
    {R"re(tag (\S+): (.+))re", "标签 %1：%2", 2u},

    {R"re(its length states (\d+), (\d+) follow)re", "长度声明 %1，其后只有 %2"},
    {R"re(its length is cut off)re", "长度不完整"},
    {R"re(its length "(.*)" is not a number)re", "长度“%1”不是数字"},
    {R"re(tag (\S+) is not in the table, which gives no length to read past it)re",
     "标签 %1 不在域定义中，无法得知其长度"},
    {R"re(bytes ([0-9A-F]+) are not a tag)re", "字节 %1 不是标签"},
    {R"re((\d+) (digits|bytes) after the last value are too few for a tag)re",
     "最后一个值之后只剩 %1 个单位，不足一个标签"},
    {R"re(no sub-field (\S+) in the field's data)re", "该域的数据中没有子域 %1"},
    {R"re(takes (\d+) (digits|characters|hex digits|bytes), not (\d+))re", "须为 %1 位，不是 %3 位"},
    {R"re(takes at most (\d+), not (\d+))re", "最多 %1 位，不是 %2 位"},
    {R"re(takes digits only)re", "只能是数字"},
    {R"re(takes hex digits only)re", "只能是十六进制数字"},
    {R"re(takes whole bytes: an even count of hex digits)re", "须为整字节：偶数个十六进制数字"},
    {R"re(packed digits inside characters are shown only, edit the field's row)re",
     "字符中的压缩数字只作显示，请修改该域所在行"},
    {R"re(what could not be read as tagged values is shown only, edit the field's row)re",
     "无法按标签读取的部分只作显示，请修改该域所在行"},
    {R"re(edited differently from another row of the same data)re", "与同一数据的另一行改得不一致"},
    {R"re(edited differently from another row of the same data: row (\d+) "(.*)")re",
     "与同一数据的第 %1 行“%2”改得不一致"},
    {R"re(edited differently from its field's row (\d+) "(.*)")re", "与其所在域的第 %1 行“%2”改得不一致"},
    {R"re(a sub-row of field (\d+), which has no row)re", "域 %1 的子行，但该域没有所在行"},
    {R"re(a length of (\d+) does not fit its prefix)re", "长度 %1 超出其长度前缀所能表示的范围"},
    {R"re(its sub-rows differ from it and give the field's value)re", "其子行与之不同，按子行取该域的值"},

    {R"re(field 0 \(message type\) is not defined)re", "消息类型（域 0）未定义"},
    {R"re(field 1 \(bitmap\) is not defined)re", "位图（域 1）未定义"},
    {R"re(field (\d+) would start at byte (\d+), past the end of the (\d+)-byte message)re",
     "域 %1 应从第 %2 字节开始，已超出 %3 字节的报文"},
    {R"re(field (\d+) is marked in the bitmap but not defined)re", "位图中标记了域 %1，但该域没有定义"},
    {R"re(message of (\d+) bytes is shorter than its framing of (\d+) bytes)re",
     "报文只有 %1 字节，短于其 %2 字节的帧头"},
    {R"re(message of (\d+) bytes is shorter than (\d+) bytes)re", "报文只有 %1 字节，短于 %2 字节"},
    {R"re(field (\d+) states length (\d+), above its maximum (\d+))re",
     "域 %1 声明长度 %2，超过其最大长度 %3"},
    {R"re(the message's length states (\d+) bytes; the (\d+) bytes after them are not decoded)re",
     "报文长度声明 %1 字节；其后的 %2 字节未解析"},
    {R"re(the message is (\d+) bytes shorter than its fields; they were read as zeros)re",
     "报文比其各域短 %1 字节，缺少的字节按 0 读取"},
    {R"re(the message could not be decoded)re", "报文无法解析"},
    {R"re(message text longer than (\d+) characters)re", "报文文本超过 %1 个字符"},
    {R"re(message text of (\d+) characters exceeds (\d+))re", "报文文本有 %1 个字符，超过 %2 个"},
    {R"re(TLV text longer than (\d+) characters)re", "TLV文本超过 %1 个字符"},

    {R"re(value of (\d+) bytes, the field takes (\d+))re", "值为 %1 字节，该域应为 %2 字节"},
    {R"re(value of length (\d+) exceeds the field's (\d+))re", "值的长度 %1 超过该域的最大长度 %2"},
    {R"re(length (\d+) does not fit its prefix)re", "长度 %1 超出长度前缀所能表示的范围"},
    {R"re(the hex part holds a character that is not a hex digit)re", "十六进制部分含有非十六进制字符"},
    {R"re(odd number of hex digits \((\d+)\))re", "十六进制数字个数为奇数（%1 个）"},
    {R"re(no such row in this message form)re", "此报文格式没有这一行"},
    {R"re(field (\d+) is not defined by the table)re", "域定义中没有域 %1"},
    {R"re(field (\d+) is not a data field of this (form|table))re", "域 %1 不是此格式的数据域"},
    {R"re(the form has no secondary bitmap)re", "此报文格式没有第二位图"},
    {R"re(not defined by the table)re", "域定义中没有此域"},
    {R"re(the field is not defined( by the table)?)re", "该域没有定义"},
    {R"re(given twice)re", "出现了两次"},
    {R"re(no message type row \("(.*)"\))re", "没有消息类型行（“%1”）"},
    {R"re(a BCD value takes digits only)re", "BCD 值只能含数字"},
    {R"re(a binary value takes pairs of hex digits)re", "二进制值须为成对的十六进制数字"},
    {R"re(more than (\d+) (digits|characters))re", "超过 %1 个字符"},
    {R"re(longer than the field's (\d+))re", "超过该域的长度 %1"},
    {R"re(a (binary )?value of exactly (\d+)( bytes)?)re", "值须正好为 %2"},
    {R"re(the length does not fit the field's prefix)re", "长度超出该域长度前缀所能表示的范围"},

    {R"re(the trade message does not decode)re", "交易报文无法解析"},
    {R"re(the trade message does not pack)re", "交易报文无法组包"},
    {R"re(the payload does not fit a trade frame)re", "报文体放不进交易报文帧"},
    {R"re(payload of (\d+) bytes exceeds (\d+))re", "报文体 %1 字节，超过 %2 字节"},
    {R"re(JSON text of (\d+) bytes exceeds (\d+))re", "JSON 文本 %1 字节，超过 %2 字节"},
    {R"re(no top-level <orbo8583-build-config> element)re", "没有顶层 <orbo8583-build-config> 元素"},
    {R"re(attribute "(.*)" of <bit> is not number, length or value; ignored)re",
     "<bit> 的属性“%1”不是 number、length 或 value，已忽略"},
    {R"re(<bit> without a "number" attribute reads as 0 \(the command code\))re",
     "<bit> 没有 number 属性，按 0（命令码）处理"},
    {R"re(number "(.*)" is not a decimal number; it reads as (-?\d+))re",
     "number“%1”不是十进制数，按 %2 处理"},
    {R"re(element <(.*)> is not <bit>; ignored)re", "元素 <%1> 不是 <bit>，已忽略"},
    {R"re(field (\d+) is given again; this last value is the one built)re",
     "域 %1 重复出现，以最后一个值为准"},

    {R"re(character (\d+) is not a hex digit)re", "第 %1 个字符不是十六进制数字"},
    {R"re((.+) at byte offset (\d+))re", "%1（第 %2 字节）", 1u},
    {R"re(text after the JSON object)re", "JSON 对象之后还有文字"},
    {R"re(the JSON text is null)re", "JSON 文本为 null"},
    {R"re(unexpected end of the( JSON)? text)re", "JSON 文本意外结束"},
    {R"re(the JSON text is not an object)re", "JSON 文本不是对象"},
    {R"re(the top-level value is not an object)re", "顶层的值不是对象"},
    {R"re(unexpected end of data)re", "数据意外结束"},
    {R"re(unexpected character)re", "意外的字符"},
    {R"re(nesting too deep)re", "嵌套过深"},
    {R"re(invalid string sequence)re", "无效的字符串序列"},
    {R"re(invalid utf-8 string)re", "无效的 UTF-8 字符串"},
    {R"re(quoted object property name expected)re", "此处应为带引号的成员名"},
    {R"re(object property name separator ':' expected)re", "此处应为冒号"},
    {R"re(object value separator ',' expected)re", "此处应为逗号"},
    {R"re(array value separator ',' expected)re", "此处应为逗号"},

    {R"re(tag cut short)re", "标签不完整"},
    {R"re(tag longer than 3 bytes)re", "标签超过 3 字节"},
    {R"re(length missing)re", "缺少长度"},
    {R"re(length bytes missing)re", "长度字节不完整"},
    {R"re(indefinite length not allowed)re", "不允许不定长度"},
    {R"re(length form above 0x82)re", "长度格式超过 0x82"},
    {R"re(length past the end)re", "长度超出数据末尾"},

    {R"re((.+): larger than (\d+) bytes)re", "%1：大于 %2 字节"},
    {R"re((.+): not a regular file)re", "%1：不是普通文件"},
    {R"re((.+): No such file or directory)re", "%1：文件不存在"},
    {R"re((.+): Permission denied)re", "%1：没有访问权限"},
    {R"re((.+): Is a directory)re", "%1：是一个目录"},

    {R"re(Connection refused)re", "连接被拒绝"},
    {R"re(Connection reset by peer)re", "连接被对方重置"},
    {R"re(connection timed out)re", "连接超时"},
    {R"re(Network is unreachable)re", "网络不可达"},
    {R"re(No route to host)re", "没有到主机的路由"},
    {R"re(Broken pipe)re", "连接已断开"},
    {R"re(cancelled)re", "已取消"},
    {R"re(send timed out: the host does not take the data)re", "发送超时：主机不接收数据"},
    {R"re(not an IPv4 address: (.+))re", "不是 IPv4 地址：%1"},

    {R"re(too many connections; closed at once)re", "连接过多，已立即关闭"},
    {R"re(the client does not read its answers)re", "客户端不读取应答"},
    {R"re(the request does not decode as a (64|128)-field message)re", "请求无法按 %1 域报文解析"},
    {R"re(the request does not decode as a trade message)re", "请求无法按交易报文解析"},
    {R"re(the trade frame's check byte does not match)re", "交易报文帧的校验字节不符"},
    {R"re(the length is not (\d+) ASCII digits)re", "长度不是 %1 位 ASCII 数字"},
    {R"re(no trade frame: byte 2 is not F1)re", "不是交易报文帧：第 2 字节不是 F1"},
    {R"re(no trade frame: bytes 3 to 5 are not zero)re", "不是交易报文帧：第 3 至 5 字节不为 0"},
    {R"re(the trade frame's length is below 7)re", "交易报文帧的长度小于 7"},
    {R"re(no length rule for this form)re", "此格式没有长度规则"},
    {R"re(oversized: the length announces (\d+)(.*))re", "过长：长度声明 %1 字节"},
    {R"re(the answer is too long for (.+))re", "应答过长，超出长度前缀的范围"},
    {R"re(no form)re", "没有报文格式"},
    {R"re(no table)re", "没有域定义"},
};

/// The meanings of EMV data elements: bits of TVR, TSI, AIP, terminal capabilities and usage
/// control, the cryptogram type, CVM results.
constexpr std::pair<const char*, const char*> kEmvPhrases[] = {
    {"Offline data authentication was not performed", "未进行脱机数据认证"},
    {"SDA failed", "SDA失败"},
    {"ICC data missing", "IC卡数据缺失"},
    {"Card appears on terminal exception file", "卡片在终端异常文件中"},
    {"DDA failed", "DDA失败"},
    {"CDA failed", "CDA失败"},
    {"SDA selected", "选择了SDA"},
    {"ICC and terminal have different application versions", "IC卡与终端的应用版本不同"},
    {"Expired application", "应用已过期"},
    {"Application not yet effective", "应用尚未生效"},
    {"Requested service not allowed for card product", "卡产品不允许所请求的服务"},
    {"New card", "新卡"},
    {"Cardholder verification was not successful", "持卡人验证未成功"},
    {"Unrecognised CVM", "无法识别的CVM"},
    {"PIN Try Limit exceeded", "超过PIN尝试次数"},
    {"PIN entry required and PIN pad not present or not working",
     "要求输入PIN，但密码键盘不存在或不工作"},
    {"PIN entry required, PIN pad present, but PIN was not entered",
     "要求输入PIN，密码键盘存在，但未输入PIN"},
    {"Online PIN entered", "已输入联机PIN"},
    {"Transaction exceeds floor limit", "交易超过最低限额"},
    {"Lower consecutive offline limit exceeded", "超过连续脱机交易下限"},
    {"Upper consecutive offline limit exceeded", "超过连续脱机交易上限"},
    {"Transaction selected randomly for online processing", "交易被随机选择联机处理"},
    {"Merchant forced transaction online", "商户要求联机处理交易"},
    {"Default TDOL used", "使用了缺省TDOL"},
    {"Issuer authentication failed", "发卡行认证失败"},
    {"Script processing failed before final GENERATE AC", "最后一次GENERATE AC之前脚本处理失败"},
    {"Script processing failed after final GENERATE AC", "最后一次GENERATE AC之后脚本处理失败"},
    {"Offline data authentication was performed", "已进行脱机数据认证"},
    {"Cardholder verification was performed", "已进行持卡人验证"},
    {"Card risk management was performed", "已进行卡片风险管理"},
    {"Issuer authentication was performed", "已进行发卡行认证"},
    {"Terminal risk management was performed", "已进行终端风险管理"},
    {"Script processing was performed", "已进行脚本处理"},
    {"SDA supported", "支持SDA"},
    {"DDA supported", "支持DDA"},
    {"Cardholder verification is supported", "支持持卡人验证"},
    {"Terminal risk management is to be performed", "需进行终端风险管理"},
    {"Issuer authentication is supported", "支持发卡行认证"},
    {"CDA supported", "支持CDA"},
    {"Manual key entry", "手工键盘输入"},
    {"Magnetic stripe", "磁条"},
    {"IC with contacts", "接触式IC卡"},
    {"Plaintext PIN for ICC verification", "IC卡明文PIN验证"},
    {"Enciphered PIN for online verification", "联机加密PIN验证"},
    {"Signature (paper)", "签名(纸质)"},
    {"Enciphered PIN for offline verification", "脱机加密PIN验证"},
    {"No CVM required", "无需CVM"},
    {"Card capture", "吞卡"},
    {"Cash", "现金"},
    {"Goods", "商品"},
    {"Services", "服务"},
    {"Cashback", "返现"},
    {"Inquiry", "查询"},
    {"Transfer", "转账"},
    {"Payment", "付款"},
    {"Administrative", "管理"},
    {"Cash deposit", "现金存款"},
    {"Numeric keys", "数字键"},
    {"Alphabetic and special characters keys", "字母和特殊字符键"},
    {"Command keys", "命令键"},
    {"Function keys", "功能键"},
    {"Print, attendant", "打印(操作员)"},
    {"Print, cardholder", "打印(持卡人)"},
    {"Display, attendant", "显示(操作员)"},
    {"Display, cardholder", "显示(持卡人)"},
    {"Valid for domestic cash transactions", "国内现金交易有效"},
    {"Valid for international cash transactions", "国际现金交易有效"},
    {"Valid for domestic goods", "国内商品有效"},
    {"Valid for international goods", "国际商品有效"},
    {"Valid for domestic services", "国内服务有效"},
    {"Valid for international services", "国际服务有效"},
    {"Valid at ATMs", "ATM有效"},
    {"Valid at terminals other than ATMs", "除ATM外的终端有效"},
    {"Domestic cashback allowed", "允许国内返现"},
    {"International cashback allowed", "允许国际返现"},
    {"no bit set", "无置位"},
    {"RFU", "保留"},
    {"advice required", "需要通知"},
    {"service not allowed", "服务不允许"},
    {"issuer authentication failed", "发卡行认证失败"},
    {"Fail CVM processing", "CVM处理失败"},
    {"Plaintext PIN verification performed by ICC", "IC卡明文PIN验证"},
    {"Enciphered PIN verified online", "联机加密PIN验证"},
    {"Plaintext PIN verification performed by ICC and signature", "IC卡明文PIN验证并签名"},
    {"Enciphered PIN verification performed by ICC", "IC卡加密PIN验证"},
    {"Enciphered PIN verification performed by ICC and signature", "IC卡加密PIN验证并签名"},
    {"Signature", "签名"},
    {"No CVM performed", "未执行CVM"},
    {"CVM code not known", "未知的CVM代码"},
    {"apply succeeding CV rule if this one is unsuccessful", "本规则不成功时使用后续规则"},
    {"always", "总是"},
    {"if unattended cash", "无人值守现金时"},
    {"if not unattended cash and not manual cash and not purchase with cashback",
     "非无人值守现金、非人工现金且非消费返现时"},
    {"if terminal supports the CVM", "终端支持该CVM时"},
    {"if manual cash", "人工现金时"},
    {"if purchase with cashback", "消费返现时"},
    {"if transaction is in the application currency and is under X value",
     "交易为应用货币且低于X金额时"},
    {"if transaction is in the application currency and is over X value",
     "交易为应用货币且高于X金额时"},
    {"if transaction is in the application currency and is under Y value",
     "交易为应用货币且低于Y金额时"},
    {"if transaction is in the application currency and is over Y value",
     "交易为应用货币且高于Y金额时"},
    {"result unknown", "结果未知"},
    {"result failed", "结果失败"},
    {"result successful", "结果成功"},
    // Transaction types (9C), after their two digits.
    {"goods and services", "商品和服务"},
    {"cash", "取现"},
    {"purchase with cashback", "消费并返现"},
    {"refund", "退货"},
    {"balance inquiry", "余额查询"},
    {"transfer", "转账"},
    {"electronic cash load to the same account", "电子现金指定账户圈存"},
    {"electronic cash load from another account", "电子现金非指定账户圈存"},
    {"electronic cash load in cash", "电子现金现金圈存"},
};

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

/// Replaces %1..%9 in one pass, so that an argument holding "%2" stays as it is.
QString Fill(const QString& pattern, const QStringList& args) {
    QString out;
    out.reserve(pattern.size());
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == u'%' && i + 1 < pattern.size() && pattern[i + 1] >= u'1' &&
            pattern[i + 1] <= u'9') {
            const auto n = static_cast<qsizetype>(pattern[i + 1].unicode() - u'1');
            if (n < args.size()) out += args[n];
            ++i;
            continue;
        }
        out += c;
    }
    return out;
}

struct CompiledPhrase {
    QRegularExpression pattern;
    QString chinese;
    unsigned nested;
};

const std::vector<CompiledPhrase>& Phrases() {
    static const std::vector<CompiledPhrase> compiled = [] {
        std::vector<CompiledPhrase> out;
        for (const Phrase& p : kPhrases) {
            out.push_back({QRegularExpression(QRegularExpression::anchoredPattern(
                               QString::fromUtf8(p.english))),
                           QString::fromUtf8(p.chinese), p.nested});
        }
        return out;
    }();
    return compiled;
}

QString Translate(const QString& english, int depth) {
    if (depth > 8) return english;  // a phrase nests a few others at most
    for (const CompiledPhrase& p : Phrases()) {
        const QRegularExpressionMatch m = p.pattern.match(english);
        if (!m.hasMatch()) continue;
        QStringList args;
        for (int g = 1; g <= m.lastCapturedIndex(); ++g) {
            const QString part = m.captured(g);
            args << ((p.nested & (1u << (g - 1))) != 0 ? Translate(part, depth + 1) : part);
        }
        return Fill(p.chinese, args);
    }
    return english;
}

const QHash<QString, QString>& EmvPhrases() {
    static const QHash<QString, QString> table = [] {
        QHash<QString, QString> out;
        for (const auto& [english, chinese] : kEmvPhrases) {
            out.insert(QString::fromUtf8(english), QString::fromUtf8(chinese));
        }
        return out;
    }();
    return table;
}

QString EmvPhrase(const QString& phrase) {
    const auto& table = EmvPhrases();
    if (const auto it = table.find(phrase); it != table.end()) return *it;
    // A transaction type: its two digits, then the name.
    static const QRegularExpression typed(QStringLiteral(R"(^([0-9A-F]{2}) (.+)$)"));
    if (const QRegularExpressionMatch m = typed.match(phrase); m.hasMatch()) {
        if (const auto name = table.find(m.captured(2)); name != table.end()) {
            return m.captured(1) + u' ' + *name;
        }
    }
    static const QRegularExpression codeTable(QStringLiteral(R"(^Code table (\d+)$)"));
    if (const QRegularExpressionMatch m = codeTable.match(phrase); m.hasMatch()) {
        return QStringLiteral("代码表%1").arg(m.captured(1));
    }
    return phrase;
}

/// The bytes of a UTF-8 text in the encoding of a row whose other bytes are `beside`.
std::string InRowEncoding(const QString& text, std::string_view beside, TextEncoding encoding) {
    const std::string utf8 = text.toStdString();
    if (encoding == TextEncoding::Utf8OrGbk && IsValidUtf8(beside)) return utf8;
    return Utf8ToGbk(utf8);
}

QString Seconds(int ms) {
    return ms % 1000 == 0 ? QString::number(ms / 1000) : QString::number(ms / 1000.0, 'f', 1);
}

}  // namespace

QString ChineseDetail(std::string_view english) { return Translate(FromUtf8(english), 0); }

QString ChineseEmvExplanation(std::string_view english) {
    const QStringList phrases = FromUtf8(english).split(QStringLiteral("; "));
    QStringList out;
    for (const QString& phrase : phrases) out << EmvPhrase(phrase);
    return out.join(QStringLiteral("；"));
}

void TranslateTlvRows(FieldRowList& rows, std::span<const TlvRowNote> notes,
                      TextEncoding encoding) {
    for (const TlvRowNote& note : notes) {
        if (note.row >= rows.size()) continue;
        FieldRow& row = rows[note.row];
        const std::string value(row.Value());
        if (note.error) {
            const QString english = QString::fromStdString(ToUtf8(value, encoding));
            const QString chinese = ChineseDetail(english.toStdString());
            if (chinese != english) SetRowText(row.value, InRowEncoding(chinese, {}, encoding));
            continue;
        }
        if (note.textAt == 0 || note.textAt >= value.size()) continue;
        const std::string_view head(value.data(), note.textAt);
        const std::string english = ToUtf8(std::string_view(value).substr(note.textAt), encoding);
        const QString chinese = ChineseEmvExplanation(english);
        if (chinese == FromUtf8(english)) continue;  // text values, dates, amounts: as they are
        SetRowText(row.value, std::string(head) + InRowEncoding(chinese, head, encoding));
    }
}

QString ChineseLogWord(std::string_view english) {
    if (english == "answered") return QStringLiteral("已应答");
    if (english == "unanswered") return QStringLiteral("未应答");
    if (english == "closed") return QStringLiteral("已关闭连接");
    if (english == "garbage") return QStringLiteral("已回送乱码");
    return ChineseDetail(english);
}

QString ReplyEndSentence(const SendReport& report, int timeoutMs, std::string_view detail) {
    const QString sent = QStringLiteral("已发送 %1 字节，").arg(report.sent);
    const std::size_t got = report.reply.size();
    const QString expected =
        report.expected == 0 ? QString()
                             : QStringLiteral("（按其长度应为 %1 字节）").arg(report.expected);
    switch (report.ended) {
        case ReplyEnd::Complete:
            return {};
        case ReplyEnd::None:
            return sent + QStringLiteral("未等待应答");
        case ReplyEnd::Closed:
            if (got == 0) return sent + QStringLiteral("主机关闭了连接，没有应答");
            return sent + QStringLiteral("主机应答 %1 字节后关闭了连接").arg(got) +
                   (expected.isEmpty() ? QString() : QStringLiteral("，应答不完整") + expected);
        case ReplyEnd::Reset: {
            QString text = sent + (got == 0 ? QStringLiteral("连接被重置，没有应答")
                                            : QStringLiteral("收到 %1 字节后连接被重置").arg(got));
            if (!detail.empty()) text += QStringLiteral("（%1）").arg(ChineseDetail(detail));
            return text;
        }
        case ReplyEnd::Timeout:
            if (report.cut) {
                return sent + QStringLiteral("应答达到 %1 字节的上限，其余部分未读取").arg(got);
            }
            if (got == 0) {
                return sent + QStringLiteral("主机在 %1 秒内没有应答").arg(Seconds(timeoutMs));
            }
            return sent + QStringLiteral("主机在 %1 秒内只应答了 %2 字节，应答不完整")
                              .arg(Seconds(timeoutMs))
                              .arg(got) +
                   expected;
    }
    return {};
}
