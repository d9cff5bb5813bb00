#include "platform/platform.h"
#include "platform/platform_p.h"

#include <QFile>
#include <QProcess>

#include <algorithm>

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

bool startDetached(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment, const QString &workingDirectory)
{
    if (const std::optional<bool> started =
            startDetachedAsBytes(program, arguments, environment, workingDirectory))
        return *started;
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    return process.startDetached();
}

QString environmentBlock(const QProcessEnvironment &environment)
{
    // Windows looks variables up without regard to case and expects the
    // block in that order.
    QStringList names = environment.keys();
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    QString block;
    for (const QString &name : names)
        block += name + QLatin1Char('=') + environment.value(name) + QChar(0);
    if (block.isEmpty())
        block += QChar(0);
    return block + QChar(0);
}

} // namespace Platform
