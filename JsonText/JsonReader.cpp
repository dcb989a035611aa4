#include "JsonText/JsonReader.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// What a byte can be inside a string: most bytes are plain text, and one look-up tells them apart.
enum ByteClass : unsigned char { kPlainAscii, kQuote, kBackslash, kControl, kHigh };

constexpr std::array<unsigned char, 256> byteClasses()
{
    std::array<unsigned char, 256> classes{};
    for (int c = 0; c < 256; ++c)
        classes[c] = c < 0x20 ? kControl : c >= 0x80 ? kHigh : kPlainAscii;
    classes['"'] = kQuote;
    classes['\\'] = kBackslash;
    return classes;
}
constexpr std::array<unsigned char, 256> kByteClass = byteClasses();

unsigned char classOf(char c)
{
    return kByteClass[static_cast<unsigned char>(c)];
}

// Printable ASCII other than a quote or a backslash: text that stands in a string as it is.
bool isPlain(char c)
{
    return classOf(c) == kPlainAscii;
}

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF): what the general parser accepts.
bool isWellFormedUtf8(QByteArrayView text)
{
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const auto *end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int length = 0;
        unsigned char low = 0x80, high = 0xBF; // the allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (end - p < length || p[1] < low || p[1] > high)
            return false;
        for (int i = 2; i < length; ++i) {
            if (!isContinuation(p[i]))
                return false;
        }
        p += length;
    }
    return true;
}

// Qt's UTF-8 decoding drops a byte-order mark at the start, where a JSON string keeps it as a character.
bool startsWithByteOrderMark(QByteArrayView text)
{
    return text.startsWith("\xEF\xBB\xBF");
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void appendUtf8(QByteArray &out, unsigned code)
{
    if (code < 0x80) {
        out.append(char(code));
    } else if (code < 0x800) {
        out.append(char(0xC0 | (code >> 6)));
        out.append(char(0x80 | (code & 0x3F)));
    } else {
        out.append(char(0xE0 | (code >> 12)));
        out.append(char(0x80 | ((code >> 6) & 0x3F)));
        out.append(char(0x80 | (code & 0x3F)));
    }
}

// The text of a string whose escapes are the common ones; false for anything else.
bool unescape(QByteArrayView raw, QByteArray &out)
{
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c != '\\') {
            out.append(c);
            continue;
        }
        if (++i == raw.size())
            return false;
        switch (raw[i]) {
        case '"': out.append('"'); break;
        case '\\': out.append('\\'); break;
        case '/': out.append('/'); break;
        case 'b': out.append('\b'); break;
        case 'f': out.append('\f'); break;
        case 'n': out.append('\n'); break;
        case 'r': out.append('\r'); break;
        case 't': out.append('\t'); break;
        case 'u': {
            if (raw.size() - i < 5)
                return false;
            unsigned code = 0;
            for (int k = 1; k <= 4; ++k) {
                const int digit = hexValue(raw[i + k]);
                if (digit < 0)
                    return false;
                code = code * 16 + unsigned(digit);
            }
            if (code >= 0xD800 && code <= 0xDFFF)
                return false; // surrogates, paired or not, are left to the general parser
            appendUtf8(out, code);
            i += 4;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

} // namespace

JsonReader::JsonReader(QByteArrayView text)
    : m_at(text.data())
    , m_end(text.data() + text.size())
{
}

bool JsonReader::readString(QString &text, QString *shared)
{
    if (!take('"'))
        return false;
    const char *start = m_at;
    bool escaped = false, ascii = true;
    for (;;) {
        while (m_at < m_end && isPlain(*m_at))
            ++m_at;
        if (m_at >= m_end)
            return false;
        const unsigned char byteClass = classOf(*m_at);
        if (byteClass == kQuote)
            break;
        if (byteClass == kControl)
            return false;
        if (byteClass == kHigh)
            ascii = false;
        if (byteClass == kBackslash) {
            escaped = true;
            ++m_at; // the escaped character never ends the string
        }
        ++m_at;
    }
    const QByteArrayView raw(start, m_at - start);
    ++m_at;
    if (!escaped && !ascii) {
        if (!isWellFormedUtf8(raw) || startsWithByteOrderMark(raw))
            return false;
        text = QString::fromUtf8(raw);
        return true;
    }
    if (!escaped) {
        if (shared && QLatin1StringView(raw) == *shared) {
            text = *shared; // no new copy of a text that many values repeat
        } else {
            text = QString::fromLatin1(raw);
            if (shared)
                *shared = text;
        }
        return true;
    }
    QByteArray plain;
    if (!unescape(raw, plain) || !isWellFormedUtf8(plain) || startsWithByteOrderMark(plain))
        return false;
    text = QString::fromUtf8(plain);
    return true;
}

bool JsonReader::readPlain(QByteArrayView &text)
{
    if (!take('"'))
        return false;
    const char *start = m_at;
    while (m_at < m_end && isPlain(*m_at))
        ++m_at;
    if (m_at >= m_end || *m_at != '"')
        return false;
    text = QByteArrayView(start, m_at - start);
    ++m_at;
    return true;
}

bool JsonReader::readBool(bool &value)
{
    for (const bool candidate : {true, false}) {
        if (takeWord(candidate ? "true" : "false")) {
            value = candidate;
            return true;
        }
    }
    return false;
}

bool JsonReader::readNumber(QByteArrayView &text)
{
    skipSpace();
    const char *start = m_at;
    while (m_at < m_end && ((*m_at >= '0' && *m_at <= '9') || *m_at == '-' || *m_at == '+' || *m_at == '.' ||
                            *m_at == 'e' || *m_at == 'E'))
        ++m_at;
    text = QByteArrayView(start, m_at - start);
    return m_at > start;
}

bool JsonReader::readNull()
{
    return takeWord("null");
}

QByteArrayView JsonReader::rest()
{
    skipSpace();
    return QByteArrayView(m_at, m_end - m_at);
}

void JsonReader::skip(qsizetype length)
{
    m_at += std::min(length, qsizetype(m_end - m_at));
}

bool JsonReader::atEnd()
{
    skipSpace();
    return m_at == m_end;
}

bool JsonReader::takeWord(QByteArrayView word)
{
    skipSpace();
    if (m_end - m_at < word.size() || std::memcmp(m_at, word.data(), size_t(word.size())) != 0)
        return false;
    m_at += word.size();
    return true;
}

bool JsonReader::take(char c)
{
    if (m_at == m_end || *m_at != c) {
        skipSpace();
        if (m_at == m_end || *m_at != c)
            return false;
    }
    ++m_at;
    return true;
}

void JsonReader::skipSpace()
{
    // Indentation comes in runs of spaces after a line break: eight at a time while it lasts.
    constexpr quint64 kEightSpaces = 0x2020202020202020;
    while (m_at < m_end) {
        quint64 word;
        if (m_end - m_at >= 8 && (std::memcpy(&word, m_at, 8), word == kEightSpaces))
            m_at += 8;
        else if (*m_at == ' ' || *m_at == '\n' || *m_at == '\r' || *m_at == '\t')
            ++m_at;
        else
            break;
    }
}
