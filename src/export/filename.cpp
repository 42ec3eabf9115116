#include "export/filename.h"

namespace {

constexpr char16_t escapeBase = 0xdc00;

// Length of the valid UTF-8 sequence at bytes[i], and its code point; 0 when
// the bytes there are not one (overlong forms and surrogates included).
int utf8Sequence(QByteArrayView bytes, qsizetype i, char32_t *code)
{
    const auto byte = [&bytes](qsizetype at) { return uchar(bytes[at]); };
    const uchar lead = byte(i);
    int length;
    char32_t value;
    if (lead < 0x80) {
        *code = lead;
        return 1;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        value = lead & 0x1f;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        value = lead & 0x0f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80)
            return 0;
        value = value << 6 | (byte(i + k) & 0x3f);
    }
    constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[length] || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
        return 0;
    *code = value;
    return length;
}

} // namespace

int escapedByte(QStringView name, qsizetype i)
{
    const char16_t code = name[i].unicode();
    if (code < escapeBase + 0x80 || code > escapeBase + 0xff)
        return -1;
    return i > 0 && name[i - 1].isHighSurrogate() ? -1 : int(code - escapeBase);
}

QString fileNameFromBytes(QByteArrayView bytes)
{
    qsizetype valid = 0;
    for (char32_t code; valid < bytes.size();) {
        const int length = utf8Sequence(bytes, valid, &code);
        if (length == 0)
            break;
        valid += length;
    }
    if (valid == bytes.size())
        return QString::fromUtf8(bytes);
    QString name;
    name.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t code;
        const int length = utf8Sequence(bytes, i, &code);
        if (length == 0) {
            name += QChar(char16_t(escapeBase + uchar(bytes[i])));
            ++i;
            continue;
        }
        name += QString::fromUcs4(&code, 1);
        i += length;
    }
    return name;
}

QByteArray fileNameBytes(const QString &name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype start = 0; // the run of real characters not yet converted
    for (qsizetype i = 0; i <= name.size(); ++i) {
        const int byte = i < name.size() ? escapedByte(name, i) : 0;
        if (byte < 0)
            continue;
        bytes += QStringView(name).mid(start, i - start).toUtf8();
        if (i < name.size())
            bytes += char(byte);
        start = i + 1;
    }
    return bytes;
}

QString printableName(const QString &name)
{
    QString printable;
    printable.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        const char16_t code = c.unicode();
        if (const int byte = escapedByte(name, i); byte >= 0) {
            printable += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
            continue;
        }
        switch (code) {
        case u'\\':
            printable += QStringLiteral("\\\\");
            continue;
        case u'\n':
            printable += QStringLiteral("\\n");
            continue;
        case u'\t':
            printable += QStringLiteral("\\t");
            continue;
        case u'\r':
            printable += QStringLiteral("\\r");
            continue;
        case 0x1b:
            printable += QStringLiteral("\\e");
            continue;
        default:
            break;
        }
        if (code < 0x20 || (code >= 0x7f && code <= 0x9f))
            printable += QStringLiteral("\\x%1").arg(uint(code), 2, 16, QLatin1Char('0'));
        else
            printable += c;
    }
    return printable;
}
