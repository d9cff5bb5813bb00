#include "platform/environment.h"

#include <QByteArrayList>
#include <QFile>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif

#include <clocale>
#include <csignal>

namespace Platform {

namespace {

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
// UTF-8, the encoding Qt 5 takes for every locale here, with each byte that
// is not part of valid UTF-8 kept as U+DC00 + byte, and given back as that
// byte.
class ByteKeepingUtf8 : public QTextCodec
{
public:
    QByteArray name() const override { return QByteArrayLiteral("UTF-8, bytes kept"); }
    int mibEnum() const override { return -106; }

protected:
    QString convertToUnicode(const char *in, int length, ConverterState *) const override
    {
        const auto *bytes = reinterpret_cast<const uchar *>(in);
        QString text;
        text.reserve(length);
        for (int i = 0; i < length;) {
            const uint length8 = sequenceLength(bytes + i, length - i);
            if (length8 == 0) {
                text += QChar(ushort(bytes[i] < 0x80 ? bytes[i] : 0xDC00 + bytes[i]));
                ++i;
                continue;
            }
            text += QString::fromUtf8(in + i, int(length8));
            i += int(length8);
        }
        return text;
    }

    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *) const override
    {
        QByteArray bytes;
        bytes.reserve(length);
        int textStart = 0;
        for (int i = 0; i <= length; ++i) {
            const bool kept = i < length && in[i].unicode() >= 0xDC80 &&
                              in[i].unicode() <= 0xDCFF && !(i > 0 && in[i - 1].isHighSurrogate());
            if (i < length && !kept)
                continue;
            bytes += QString::fromRawData(in + textStart, i - textStart).toUtf8();
            if (kept)
                bytes += char(in[i].unicode() - 0xDC00);
            textStart = i + 1;
        }
        return bytes;
    }

private:
    // The length of the valid UTF-8 sequence of more than one byte at the
    // start of bytes, or 0 (ASCII, or not valid: no overlong forms, no
    // surrogates, nothing beyond U+10FFFF).
    static uint sequenceLength(const uchar *bytes, int available)
    {
        const uchar lead = bytes[0];
        const int continuations = lead >= 0xC2 && lead <= 0xDF   ? 1
                                  : lead >= 0xE0 && lead <= 0xEF ? 2
                                  : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                                 : 0;
        if (continuations == 0 || continuations >= available)
            return 0;
        uint code = lead & (0x3F >> continuations);
        for (int k = 1; k <= continuations; ++k) {
            if ((bytes[k] & 0xC0) != 0x80)
                return 0;
            code = (code << 6) | (bytes[k] & 0x3F);
        }
        const uint smallest[] = {0, 0x80, 0x800, 0x10000};
        if (code < smallest[continuations] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return 0;
        return uint(continuations) + 1;
    }
};
#endif

void ignore(int) {}

} // namespace

void keepNameBytes()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // The application object sets the locale from the environment too; done
    // first here, so that nothing is decoded before the codec is in place.
    std::setlocale(LC_ALL, "");
    QTextCodec::setCodecForLocale(new ByteKeepingUtf8);
#endif
}

void failOversizedWrites()
{
    // A handler, not SIG_IGN: the write then fails with EFBIG, and exec
    // gives the programs started later the default disposition back.
    struct sigaction action = {};
    action.sa_handler = ignore;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGXFSZ, &action, nullptr);
}

void restrictLibrarySearch()
{
    // The dynamic linker never looks in the current directory unless asked to.
}

char pathListSeparator()
{
    return ':';
}

int largestEnvironmentValue()
{
    // A variable is limited only by what a started program may get (E2BIG),
    // which the start reports.
    return -1;
}

EnvironmentValue environmentValue(const char *name)
{
    return qgetenv(name);
}

void setEnvironmentValue(const char *name, const EnvironmentValue &value)
{
    qputenv(name, value);
}

EnvironmentValue toEnvironmentValue(const QString &text)
{
    return QFile::encodeName(text);
}

QByteArray platformPlugins(bool showsWindows)
{
    // Qt's default plugin aborts the process when the display variables are
    // empty or name a server that cannot be reached (a dead SSH forwarding,
    // for one), while Qt tries a list of plugins in order and takes the
    // first that comes up. Connecting to a display is also time wasted for a
    // process that shows nothing.
    QByteArrayList plugins;
    if (showsWindows) {
        if (!qEnvironmentVariableIsEmpty("DISPLAY"))
            plugins.append(QByteArrayLiteral("xcb"));
        if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            // Qt 6 prefers Wayland in a Wayland session; Qt 5 takes X first.
            const bool waylandFirst =
                QT_VERSION >= QT_VERSION_CHECK(6, 0, 0) && qgetenv("XDG_SESSION_TYPE") == "wayland";
            plugins.insert(waylandFirst ? 0 : plugins.size(), QByteArrayLiteral("wayland"));
        }
    }
    plugins.append(headlessPlatform());
    return plugins.join(';');
}

QStringList programArguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(decodeArgument(argv[i]));
    return arguments;
}

} // namespace Platform
