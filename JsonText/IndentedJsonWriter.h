#pragma once

#include "JsonText/JsonWriter.h"

#include <QByteArray>
#include <QString>

#include <string_view>

// Writes JSON in the general writer's indented layout: four spaces a level, one member or element a line, an
// empty object or array still on two lines. The store file and the sync state are both written in it, so that
// the file reads the same as the general writer would write it. Kept inline: whole files of it are written on
// every change.
class IndentedJsonWriter
{
public:
    // `depth`: the level of the value about to be written, for a value inside a larger text.
    explicit IndentedJsonWriter(JsonWriter &out, int depth = 0) : m_out(out), m_depth(depth) {}

    void open(char bracket)
    {
        put(std::string_view(&bracket, 1));
        m_first = true;
        ++m_depth;
    }
    void close(char bracket)
    {
        --m_depth;
        newLine(1);
        m_out.put(bracket);
        m_first = false;
    }
    // Starts the next member of an object (with its key) or element of an array (key empty).
    void next(std::string_view key = {})
    {
        m_out.makeRoom(qsizetype(key.size()) + 5);
        if (!m_first)
            m_out.put(',');
        m_first = false;
        newLine(qsizetype(key.size()) + 4);
        if (!key.empty()) {
            m_out.put('"');
            m_out.put(key);
            m_out.put("\": ");
        }
    }

    // Members whose value is a string, written from text, as it stands, or as Base64; or a literal.
    void text(std::string_view key, const QString &value)
    {
        next(key);
        putQuoted(value);
    }
    void plain(std::string_view key, std::string_view value)
    {
        next(key);
        m_out.makeRoom(qsizetype(value.size()) + 2);
        m_out.put('"');
        m_out.put(value);
        m_out.put('"');
    }
    void bytes(std::string_view key, const QByteArray &value)
    {
        const QByteArray base64 = value.toBase64();
        plain(key, std::string_view(base64.constData(), size_t(base64.size())));
    }
    void literal(std::string_view key, std::string_view value)
    {
        next(key);
        put(value);
    }

    void put(std::string_view raw)
    {
        m_out.makeRoom(qsizetype(raw.size()));
        m_out.put(raw);
    }
    void putQuoted(const QString &text)
    {
        m_out.makeRoom(JsonWriter::quotedRoom(text));
        m_out.putQuoted(text);
    }

private:
    // A line break and the indentation of the current level, with room for `more` after them.
    void newLine(qsizetype more)
    {
        m_out.makeRoom(1 + 4 * m_depth + more);
        m_out.put('\n');
        for (int level = 0; level < m_depth; ++level)
            m_out.put("    ");
    }

    JsonWriter &m_out;
    int m_depth;
    bool m_first = true;
};
