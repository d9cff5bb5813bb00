#include "platform/environment.h"

#include <QFile>

namespace Platform {

namespace {

bool isEscapedByte(QChar c)
{
    return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF;
}

} // namespace

QString decodeArgument(const QByteArray &bytes)
{
    QString text = QFile::decodeName(bytes);
    if (QFile::encodeName(text) == bytes)
        return text;
    QString escaped;
    escaped.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<uchar>(c);
        escaped.append(QChar(ushort(byte < 0x80 ? byte : 0xDC00 + byte)));
    }
    return escaped;
}

QByteArray encodeArgument(const QString &text)
{
    QByteArray bytes;
    int textStart = 0;
    for (int i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isEscapedByte(text.at(i)))
            continue;
        bytes += QFile::encodeName(text.mid(textStart, i - textStart));
        if (i < text.size())
            bytes += char(text.at(i).unicode() - 0xDC00);
        textStart = i + 1;
    }
    return bytes;
}

} // namespace Platform
