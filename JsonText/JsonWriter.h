#pragma once

#include <QByteArray>
#include <QString>

#include <cstring>
#include <string_view>

// Builds JSON text in one buffer. Each piece asks for room first and is then written without further checks:
// appending piece by piece costs more than the encoding itself when whole files are written on every change.
class JsonWriter
{
public:
    explicit JsonWriter(qsizetype expected = 4096) { makeRoom(expected); }

    // Room for any quoted form of a text: an escape takes at most six bytes a character.
    static qsizetype quotedRoom(const QString &text) { return 2 + 6 * text.size(); }

    qsizetype size() const { return m_size; }
    const char *data() const { return m_data; }
    void makeRoom(qsizetype more)
    {
        if (m_size + more > m_buffer.size())
            grow(more);
    }
    void put(std::string_view text)
    {
        std::memcpy(m_data + m_size, text.data(), text.size());
        m_size += qsizetype(text.size());
    }
    void put(char c) { m_data[m_size++] = c; }
    // A string as the general JSON writer quotes it (compact or indented alike): UTF-8 with quotes and
    // backslashes escaped, and control characters and surrogates as that writer escapes them.
    void putQuoted(const QString &text);
    QByteArray take();

private:
    void grow(qsizetype more);

    QByteArray m_buffer;
    char *m_data = nullptr;
    qsizetype m_size = 0;
};
