#pragma once

#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstring>
#include <optional>
#include <string_view>

// A member's key as it stands in the text. Compared with words written in the code, without a call out of line:
// every member of every item is told apart this way.
struct JsonKey
{
    QByteArrayView text;

    bool operator==(std::string_view word) const
    {
        return text.size() == qsizetype(word.size()) && std::memcmp(text.data(), word.data(), word.size()) == 0;
    }
};

// Reads JSON text token by token, straight into the caller's values, without building a document first.
//
// It takes only plain forms and gives up on anything unusual: control characters, rare escapes, ill-formed
// UTF-8, a byte-order mark, whitespace other than JSON's own. Giving up means "not sure", not "unreadable": its
// callers then read the text with the general parser, which also decides whether it can be read at all. So
// whatever it reads, it reads as the general parser does.
class JsonReader
{
public:
    explicit JsonReader(QByteArrayView text);

    // Skips whitespace, then takes the character when it comes next.
    bool take(char c);
    // With `shared`, a text equal to it shares its data, and a text that differs becomes the new `shared`: for
    // values that repeat from one entry to the next.
    bool readString(QString &text, QString *shared = nullptr);
    // A string of ASCII without control characters or escapes, as it stands: keys, dates, Base64.
    bool readPlain(QByteArrayView &text);
    bool readBool(bool &value);
    // A number as it stands, for a caller that accepts only a few exact forms.
    bool readNumber(QByteArrayView &text);
    bool readNull();
    // The text from the next token on, for a part that another reader takes; skip() then passes over it.
    QByteArrayView rest();
    void skip(qsizetype length);
    // Nothing but whitespace is left.
    bool atEnd();

    // The members of an object: `member(JsonKey)` reads each value and says whether that went well.
    template<typename Member>
    bool readObject(Member member)
    {
        if (!take('{'))
            return false;
        if (take('}'))
            return true;
        do {
            QByteArrayView key;
            if (!readPlain(key) || !take(':') || !member(JsonKey{key}))
                return false;
        } while (take(','));
        return take('}');
    }

    // An object whose keys are all among `keys`, none twice: `member(i)` reads the value of keys[i]. Gives the
    // keys that were there as bits (bit i for keys[i]), or nothing when the object could not be read.
    template<size_t N, typename Member>
    std::optional<unsigned> readKnownObject(const std::array<std::string_view, N> &keys, Member member)
    {
        static_assert(N <= 32);
        unsigned seen = 0;
        const bool read = readObject([&](JsonKey key) {
            for (size_t i = 0; i < N; ++i) {
                if (key == keys[i])
                    return !(seen & (1u << i)) && (seen |= 1u << i, member(i));
            }
            return false;
        });
        return read ? std::optional(seen) : std::nullopt;
    }

    template<typename Element>
    bool readArray(Element element)
    {
        if (!take('['))
            return false;
        if (take(']'))
            return true;
        do {
            if (!element())
                return false;
        } while (take(','));
        return take(']');
    }

private:
    bool takeWord(QByteArrayView word);
    void skipSpace();

    const char *m_at;
    const char *m_end;
};
