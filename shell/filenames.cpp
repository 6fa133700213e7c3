// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/filenames.h"

#include <QFile>
#include <QTextCodec>

namespace {

// Bytes that are not part of valid UTF-8 are kept as U+DC80 + (byte - 0x80), and given back.
class LosslessUtf8 : public QTextCodec
{
public:
    QByteArray name() const override { return QByteArrayLiteral("x-quellspan-utf-8-file-names"); }
    int mibEnum() const override { return -106; } // none of the registered ones

protected:
    QString convertToUnicode(const char *chars, int length, ConverterState *state) const override
    {
        // Bytes of a sequence cut at the end of the previous piece come first.
        QByteArray bytes;
        if (state && state->remainingChars > 0) {
            for (int i = 0; i < state->remainingChars; ++i)
                bytes += char(state->state_data[i]);
            state->remainingChars = 0;
        }
        bytes.append(chars, length);
        const auto *b = reinterpret_cast<const uchar *>(bytes.constData());
        const int n = bytes.size();
        QString out;
        out.reserve(n);
        int i = 0;
        while (i < n) {
            const uchar c = b[i];
            if (c < 0x80) {
                out += QChar(c);
                ++i;
                continue;
            }
            const int need = c >= 0xc2 && c <= 0xdf   ? 1
                             : c >= 0xe0 && c <= 0xef ? 2
                             : c >= 0xf0 && c <= 0xf4 ? 3
                                                      : 0;
            const int available = n - i;
            uint code = 0;
            if (need > 0 && available > need && sequenceAt(b + i, available, need, &code)) {
                if (code > 0xffff) {
                    out += QChar(QChar::highSurrogate(code));
                    out += QChar(QChar::lowSurrogate(code));
                } else {
                    out += QChar(ushort(code));
                }
                i += need + 1;
                continue;
            }
            if (need > 0 && available <= need && state && validPrefix(b + i, available)) {
                // Cut short at the end of this piece: kept for the next.
                state->remainingChars = available;
                for (int k = 0; k < available; ++k)
                    state->state_data[k] = b[i + k];
                break;
            }
            out += QChar(ushort(0xdc00 + c)); // a byte of its own
            ++i;
        }
        return out;
    }

    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *state) const override
    {
        QByteArray out;
        out.reserve(length * 3);
        int i = 0;
        QString joined;
        if (state && state->remainingChars > 0) {
            joined = QChar(ushort(state->state_data[0])) + QString(in, length);
            in = joined.constData();
            length = joined.size();
            state->remainingChars = 0;
        }
        for (; i < length; ++i) {
            const ushort u = in[i].unicode();
            uint code = u;
            if (QChar::isHighSurrogate(u)) {
                if (i + 1 < length && QChar::isLowSurrogate(in[i + 1].unicode())) {
                    code = QChar::surrogateToUcs4(u, in[i + 1].unicode());
                    ++i;
                } else if (i + 1 == length && state) {
                    state->remainingChars = 1; // its other half comes with the next piece
                    state->state_data[0] = u;
                    break;
                } else {
                    out += '?';
                    continue;
                }
            } else if (QChar::isLowSurrogate(u)) {
                if (u >= 0xdc80 && u <= 0xdcff)
                    out += char(u - 0xdc00); // the byte it stands for
                else
                    out += '?';
                continue;
            }
            if (code < 0x80) {
                out += char(code);
            } else if (code < 0x800) {
                out += char(0xc0 | (code >> 6));
                out += char(0x80 | (code & 0x3f));
            } else if (code < 0x10000) {
                out += char(0xe0 | (code >> 12));
                out += char(0x80 | ((code >> 6) & 0x3f));
                out += char(0x80 | (code & 0x3f));
            } else {
                out += char(0xf0 | (code >> 18));
                out += char(0x80 | ((code >> 12) & 0x3f));
                out += char(0x80 | ((code >> 6) & 0x3f));
                out += char(0x80 | (code & 0x3f));
            }
        }
        return out;
    }

private:
    // The allowed second byte of a sequence led by lead (no overlong forms, no surrogates, nothing
    // beyond U+10FFFF).
    static bool secondAllowed(uchar lead, uchar second)
    {
        if (lead == 0xe0)
            return second >= 0xa0 && second <= 0xbf;
        if (lead == 0xed)
            return second >= 0x80 && second <= 0x9f;
        if (lead == 0xf0)
            return second >= 0x90 && second <= 0xbf;
        if (lead == 0xf4)
            return second >= 0x80 && second <= 0x8f;
        return second >= 0x80 && second <= 0xbf;
    }
    // Whether the `count` bytes at b could begin a valid sequence.
    static bool validPrefix(const uchar *b, int count)
    {
        for (int k = 1; k < count; ++k) {
            if (k == 1 ? !secondAllowed(b[0], b[1]) : (b[k] & 0xc0) != 0x80)
                return false;
        }
        return true;
    }
    // A whole valid sequence of a lead byte and `need` more at b (available bytes there), decoded.
    static bool sequenceAt(const uchar *b, int available, int need, uint *code)
    {
        if (available < need + 1 || !validPrefix(b, need + 1))
            return false;
        uint c = b[0] & (need == 1 ? 0x1f : need == 2 ? 0x0f : 0x07);
        for (int k = 1; k <= need; ++k)
            c = (c << 6) | (b[k] & 0x3f);
        *code = c;
        return true;
    }
};

} // namespace

void decodeFileNamesLosslessly()
{
#ifdef Q_OS_UNIX
    const int locale = QTextCodec::codecForLocale()->mibEnum();
    // UTF-8, or plain ASCII (the C locale), of which UTF-8 is a superset.
    if (locale == 106 || locale == 3) {
        static LosslessUtf8 *codec = new LosslessUtf8; // registered with Qt, which owns it
        QTextCodec::setCodecForLocale(codec);
    }
#endif
}

QStringList decodedArguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QFile::decodeName(argv[i]);
    return arguments;
}
