#pragma once

#include <QByteArray>
#include <QString>

#include <simdjson.h>

#include <optional>
#include <string_view>

// Reads JSON text with simdjson, which checks the whole text (its grammar and its UTF-8) before anything is taken
// from it. The values it gives stay valid until the next parse.
class JsonParser
{
public:
    // The bytes simdjson may read past the end of the text: it reads in wide steps.
    static constexpr qsizetype kPadding = qsizetype(simdjson::SIMDJSON_PADDING);

    // The root value, or none when the text is not JSON; std::bad_alloc when there is not memory enough to parse it.
    // The text is changed in place: it gets the padding after its end (copied when its buffer has no room), and
    // escapes of lone surrogate halves become U+FFFD.
    std::optional<simdjson::dom::element> parse(QByteArray &text);

    // A string value as text; false for any other kind of value.
    static bool read(simdjson::dom::element value, QString &text);
    // The same, sharing the data of `shared` when the text is equal to it; a different text becomes the new
    // `shared`. For values that repeat from one entry to the next.
    struct Shared
    {
        std::string_view bytes;
        QString text;
    };
    static bool read(simdjson::dom::element value, QString &text, Shared &shared);
    // A string value holding Base64; none for anything else.
    static std::optional<QByteArray> readBase64(simdjson::dom::element value);

private:
    simdjson::dom::parser m_parser;
};
