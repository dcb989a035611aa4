#include "JsonText/JsonWriter.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cstring>

void JsonWriter::putQuoted(const QString &text)
{
    char *p = m_data + m_size; // a local pointer: writes through the member would reload it every byte
    *p++ = '"';
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c >= 0x20 && c < 0x80) {
            if (c == '"' || c == '\\')
                *p++ = '\\';
            *p++ = char(c);
        } else if (c < 0x20 || QChar::isSurrogate(c)) {
            const QByteArray quoted = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
            put(std::string_view(quoted.constData() + 1, size_t(quoted.size() - 2)));
            return;
        } else if (c < 0x800) {
            *p++ = char(0xC0 | (c >> 6));
            *p++ = char(0x80 | (c & 0x3F));
        } else {
            *p++ = char(0xE0 | (c >> 12));
            *p++ = char(0x80 | ((c >> 6) & 0x3F));
            *p++ = char(0x80 | (c & 0x3F));
        }
    }
    *p++ = '"';
    m_size = p - m_data;
}

QByteArray JsonWriter::take()
{
    m_buffer.truncate(m_size);
    m_data = nullptr;
    m_size = 0;
    return std::move(m_buffer);
}

void JsonWriter::grow(qsizetype more)
{
    // Grown by half at least; pages of the buffer that are never written cost no memory.
    m_buffer.resize(std::max(m_buffer.size() * 3 / 2, m_size + more));
    m_data = m_buffer.data();
}
