#include "window/libpath.h"

namespace LibPath {

QString fileName(const QString &workDirPath)
{
    return workDirPath + QLatin1String("/libpath");
}

QString defaultPath()
{
    return QStringLiteral("/usr/local/lib");
}

// When the trimmed line carries key, stores its value and returns true. The
// key is followed by blanks or tabs and "=", so "paths = x" or "path x" do
// not carry "path"; further "=" belong to the value.
static bool valueOf(const QString &key, const QString &line, QString *value)
{
    const QString trimmed = line.trimmed();
    if (!trimmed.toLower().startsWith(key.toLower()))
        return false;
    int pos = key.size();
    while (pos < trimmed.size() &&
           (trimmed.at(pos) == QLatin1Char(' ') || trimmed.at(pos) == QLatin1Char('\t')))
        ++pos;
    if (pos >= trimmed.size() || trimmed.at(pos) != QLatin1Char('='))
        return false;
    *value = trimmed.mid(pos + 1).trimmed();
    return true;
}

QString lookupValue(const QString &key, const QStringList &lines)
{
    QString value;
    for (const QString &line : lines) {
        if (valueOf(key, line, &value))
            return value;
    }
    return QString();
}

QStringList lookupValues(const QString &key, const QStringList &lines)
{
    QStringList values;
    QString value;
    for (const QString &line : lines) {
        if (valueOf(key, line, &value))
            values.append(value);
    }
    return values;
}

QString decode(const QByteArray &content)
{
    QByteArray bytes = content;
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);

    // Valid UTF-8 survives the way there and back unchanged; anything else
    // was written by hand in the local encoding.
    QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() == bytes)
        return text;
    return QString::fromLocal8Bit(bytes);
}

QStringList splitLines(const QString &text)
{
    return text.split(QLatin1Char('\n'));
}

Settings read(const QByteArray &content)
{
    const QStringList lines = splitLines(decode(content));
    Settings settings;
    settings.showWindow = lookupValue(QStringLiteral("show"), lines) != QLatin1String("0");
    settings.paths = lookupValues(QStringLiteral("path"), lines);
    if (settings.paths.isEmpty())
        settings.paths.append(defaultPath());
    return settings;
}

QByteArray write(const QStringList &paths, bool dontAskAgain)
{
    QString text = QStringLiteral("\n");
    for (const QString &path : paths) {
        const QString trimmed = path.trimmed();
        if (!trimmed.contains(QLatin1Char('\n')))
            text += QLatin1String("path = ") + trimmed + QLatin1Char('\n');
    }
    text += QLatin1String("show = ") + QLatin1Char(dontAskAgain ? '0' : '1') + QLatin1Char('\n');
    return text.toUtf8();
}

QString libraryPathValue(const QString &inherited, const QStringList &paths)
{
    // Built as text, not through the local 8-bit encoding, which would lose
    // every character outside its code page.
    const QLatin1Char separator(':');
    QStringList entries;
    for (const QString &entry : inherited.split(separator) + paths) {
        const QString trimmed = entry.trimmed();
        if (!trimmed.isEmpty())
            entries.append(trimmed);
    }
    return entries.join(separator);
}

} // namespace LibPath
