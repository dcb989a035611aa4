#include "JsonText/JsonParser.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// The string inside a one-element array, or none when the text is refused.
std::optional<QString> readBack(QByteArray text)
{
    JsonParser parser;
    const auto root = parser.parse(text);
    simdjson::dom::array array;
    QString value;
    if (!root || root->get_array().get(array) || array.size() != 1 || !JsonParser::read(array.at(0).value_unsafe(), value))
        return std::nullopt;
    return value;
}

} // namespace

TEST(JsonText, TextsRoundTripThroughQtsWriterAndTheParser)
{
    const QChar high(0xD83D), low(0xDE00), bom(0xFEFF), replacement(0xFFFD);
    struct Case
    {
        QString text;
        QString readAs; // when it differs
    };
    const QList<Case> cases{
        {"", {}},
        {"plain words", {}},
        {"a \"quote\", a \\ and a /", {}},
        {QString("\n\t\r\b\f \x01\x1f \x7f") + QChar(0), {}},
        {QString::fromUtf8("caf\u00e9 \u07ff \u0800 \u2028 \uffff \uFFFE"), {}},
        {QString(high) + low + " a pair", {}},
        {QString(bom) + "starts with a byte-order mark", {}},
        {QString(high) + "a lone first half", QString(replacement) + "a lone first half"},
        {QString("a lone second half ") + low, QString("a lone second half ") + replacement},
        {QString(high) + high + low, QString(replacement) + high + low},
        {QString(low) + high, QString(replacement) + replacement},
    };
    for (const Case &test : cases) {
        const QByteArray written = QJsonDocument(QJsonArray{test.text}).toJson(QJsonDocument::Compact);
        EXPECT_EQ(readBack(written), test.readAs.isNull() ? test.text : test.readAs) << written.constData();
    }
    // Mending a lone half must step over every other escape whole: neither an escaped backslash nor an escaped
    // quote is the start of something.
    EXPECT_EQ(readBack(R"(["\ud800 \\ud800 \"\ud800"])"), QString(replacement) + " \\ud800 \"" + replacement);
}

TEST(JsonText, RefusesWhatIsNotJsonOrNotUtf8)
{
    const QList<QByteArray> refused{
        "",
        "[\"unclosed]",
        "[\"a\" \"b\"]",
        "[\"a\"] x",
        "[\"tab\there\"]",
        "[\"\\x\"]",
        "[\"\\u12\"]",
        "[\"over\xc0\x80long\"]",
        "[\"surrogate \xed\xa0\x80 in UTF-8\"]",
        "[\"cut \xe2\x80\"]",
        "[\"stray \x80\"]",
        "[\"past \xf4\x90\x80\x80\"]",
        "[1e400]",
        "[01]",
    };
    for (const QByteArray &text : refused) {
        QByteArray copy = text;
        EXPECT_FALSE(JsonParser().parse(copy)) << text.constData();
    }
}

// A text whose buffer ends right before a page that may not be read: the parser must not read past the buffer.
TEST(JsonText, NeverReadsPastTheBuffer)
{
    const long page = ::sysconf(_SC_PAGESIZE);
    auto *pages = static_cast<char *>(::mmap(nullptr, size_t(2 * page), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(::mprotect(pages + page, size_t(page), PROT_NONE), 0);
    const QByteArray json = "[\"\\ud800 a lone half at the end of the buffer\"]";
    char *at = pages + page - json.size();
    std::memcpy(at, json.constData(), size_t(json.size()));
    QByteArray text = QByteArray::fromRawData(at, json.size());
    EXPECT_EQ(readBack(text), QString(QChar(0xFFFD)) + " a lone half at the end of the buffer");
    ::munmap(pages, size_t(2 * page));
}
