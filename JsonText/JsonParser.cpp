#include "JsonText/JsonParser.h"

#include <QStringDecoder>

#include <cstring>
#include <new>

namespace {

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

// The code unit of the \uXXXX escape at `at` in `text`, or -1 for anything else.
int escapedUnit(QByteArrayView text, qsizetype at)
{
    if (text.size() - at < 6 || text[at] != '\\' || text[at + 1] != 'u')
        return -1;
    int unit = 0;
    for (qsizetype i = at + 2; i < at + 6; ++i) {
        const int digit = hexValue(text[i]);
        if (digit < 0)
            return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

bool isSurrogate(int unit)
{
    return unit >= 0xD800 && unit <= 0xDFFF;
}

// A text can hold half a surrogate pair, and JSON writers (ours as Qt's) write it as its escape; simdjson refuses
// those. Each becomes the escape of U+FFFD, of the same length, which is how such a half shows anyway. True when
// one was found.
bool mendLoneSurrogates(QByteArray &text)
{
    bool inString = false, mended = false;
    qsizetype i = 0;
    while (i < text.size()) {
        const char c = text.at(i);
        if (c == '"') {
            inString = !inString;
            ++i;
        } else if (!inString || c != '\\') {
            ++i;
        } else if (const int unit = escapedUnit(text, i); !isSurrogate(unit)) {
            i += 2; // any other escape: the escaped character never ends the string
        } else if (const int next = escapedUnit(text, i + 6); unit < 0xDC00 && next >= 0xDC00 && isSurrogate(next)) {
            i += 12; // a whole pair
        } else {
            std::memcpy(text.data() + i, "\\ufffd", 6);
            mended = true;
            i += 6;
        }
    }
    return mended;
}

QString textOf(std::string_view bytes)
{
    // fromUtf8() drops a byte-order mark at the start, where a JSON string holds it as a character.
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
        return decoder(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    }
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

} // namespace

std::optional<simdjson::dom::element> JsonParser::parse(QByteArray &text)
{
    const qsizetype size = text.size();
    // The padding is written, not only reserved, so that simdjson reads known bytes past the end. Shrinking back
    // keeps the buffer and what was written into it.
    text.resize(size + kPadding, ' ');
    text.resize(size);
    const size_t length = size_t(size);
    simdjson::dom::element root;
    auto error = m_parser.parse(text.constData(), length, false).get(root);
    if (error == simdjson::STRING_ERROR && mendLoneSurrogates(text))
        error = m_parser.parse(text.constData(), length, false).get(root);
    // A lack of memory says nothing about the text: it must not be taken for text that is not JSON.
    if (error == simdjson::MEMALLOC)
        throw std::bad_alloc();
    if (error)
        return std::nullopt;
    return root;
}

bool JsonParser::read(simdjson::dom::element value, QString &text)
{
    std::string_view bytes;
    if (value.get_string().get(bytes))
        return false;
    text = textOf(bytes);
    return true;
}

bool JsonParser::read(simdjson::dom::element value, QString &text, Shared &shared)
{
    std::string_view bytes;
    if (value.get_string().get(bytes))
        return false;
    if (shared.bytes.data() && bytes == shared.bytes) {
        text = shared.text;
        return true;
    }
    text = textOf(bytes);
    shared = {bytes, text};
    return true;
}

std::optional<QByteArray> JsonParser::readBase64(simdjson::dom::element value)
{
    std::string_view bytes;
    if (value.get_string().get(bytes))
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size())),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return std::move(*decoded);
}
