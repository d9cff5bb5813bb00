#include "window/orvane.h"

#include "installation/installation.h"
#include "platform/files.h"
#include "window/libpath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QProcessEnvironment>
#include <QStyleOptionButton>
#include <QToolTip>

Orvane::Orvane(const QString &workDirPath, const QStringList &installerArgs, QWidget *parent,
               Qt::WindowFlags flags)
    : QMainWindow(parent, flags)
    , workDirPath(workDirPath)
    , installerArgs(installerArgs)
{
    ui.setupUi(this);
    connect(ui.pushButton_start, &QPushButton::clicked, this, &Orvane::startClicked);
    connect(ui.pushButton_default, &QPushButton::clicked, this, &Orvane::defaultClicked);
    connect(ui.pushButton_PathO, &QPushButton::clicked, this, &Orvane::oClicked);
    connect(ui.checkBox_ask, &QCheckBox::stateChanged, this, &Orvane::askCheckStateChanged);
}

bool Orvane::loadLibPaths()
{
    // A file that cannot be read counts as one without entries, and so does
    // one that is no regular file (never waited for) or far larger than a
    // list of a few thousand directories.
    constexpr qint64 largestLibpath = qint64(16) * 1024 * 1024;
    const LibPath::Settings settings =
        LibPath::read(Platform::readRegularFile(LibPath::fileName(workDirPath), largestLibpath)
                          .value_or(QByteArray()));
    if (!settings.showWindow)
        ui.checkBox_ask->setCheckState(Qt::Checked);
    ui.listWidget_Paths->addItems(settings.paths);
    return settings.showWindow;
}

bool Orvane::saveLibPaths()
{
    // Written beside the old file and put in its place only when complete, so
    // a failure at any step leaves the old settings intact; a link in its
    // place is replaced, never written through.
    const QByteArray content =
        LibPath::write(listedPaths(), ui.checkBox_ask->checkState() == Qt::Checked);
    const Platform::Failure failed =
        Platform::writeFileInOneStep(LibPath::fileName(workDirPath), content);
    if (!failed)
        return true;
    errorText = QLatin1String("[saveLibPaths]") +
                QString::fromUtf8("Невозможно сохранить настройки\n") + failed->text;
    return false;
}

bool Orvane::startInstaller()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString variable = QStringLiteral("LD_LIBRARY_PATH");
    environment.insert(variable,
                       LibPath::libraryPathValue(environment.value(variable), listedPaths()));
    const Platform::Failure failed = Installation::startInstaller(installerArgs, environment);
    if (!failed)
        return true;
    errorText = QLatin1String("[startInstaller]") +
                QString::fromUtf8("Невозможно запустить установщик ") +
                QDir::toNativeSeparators(
                    Installation::installerPath(QCoreApplication::applicationDirPath())) +
                QLatin1Char('\n') + failed->text;
    return false;
}

QStringList Orvane::clippedTexts() const
{
    QStringList clipped;
    const auto check = [&clipped](const QWidget *widget, const QString &text, const QRect &room) {
        const QSize needed = widget->fontMetrics().size(Qt::TextShowMnemonic, text);
        if (needed.width() > room.width() || needed.height() > room.height())
            clipped.append(widget->objectName());
    };
    for (const QLabel *label : {ui.label_envOptions, ui.label_unixodbc})
        check(label, label->text(), label->contentsRect());
    for (const QAbstractButton *button : std::initializer_list<const QAbstractButton *>{
             ui.pushButton_default, ui.pushButton_start, ui.pushButton_PathO, ui.checkBox_ask}) {
        // The room for the text: the button's less its frame and padding,
        // the check box's less its indicator.
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const bool checkBox = button == ui.checkBox_ask;
        const QRect room = button->style()->subElementRect(checkBox ? QStyle::SE_CheckBoxContents
                                                                    : QStyle::SE_PushButtonContents,
                                                           &option, button);
        check(button, option.text, room);
    }
    return clipped;
}

QPoint Orvane::widgetGlobalPos(const QWidget *widget)
{
    const QWidget *parent = widget->parentWidget();
    return parent ? parent->mapToGlobal(widget->pos()) : widget->pos();
}

void Orvane::startClicked()
{
    if (!saveLibPaths()) {
        QToolTip::showText(widgetGlobalPos(ui.pushButton_start), errorText);
        return;
    }
    // The window stays open when the installer does not start: the user
    // sees why and may try again.
    if (!startInstaller()) {
        QToolTip::showText(widgetGlobalPos(ui.pushButton_start), errorText);
        return;
    }
    close();
}

void Orvane::defaultClicked()
{
    ui.listWidget_Paths->clear();
    ui.listWidget_Paths->addItem(LibPath::defaultPath());
}

void Orvane::oClicked()
{
    QFileDialog dialog(this, QString::fromUtf8("Укажите путь к клиентским библиотекам"), QString(),
                       QString());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted)
        return;

    // The directory the user chose: the one selected in the dialog, or the
    // one it shows when nothing is selected there.
    const QStringList selected = dialog.selectedFiles();
    const QString chosen = selected.isEmpty() ? dialog.directory().absolutePath()
                                              : QDir(selected.first()).absolutePath();
    ui.listWidget_Paths->addItem(chosen);
}

void Orvane::askCheckStateChanged(int state)
{
    if (state == Qt::Unchecked)
        return;
    QToolTip::showText(widgetGlobalPos(ui.checkBox_ask),
                       QString::fromUtf8("Чтобы снова видеть это окно\n"
                                         "необходимо удалить файл libpath\n"
                                         "в рабочей директории пользователя"));
}

QStringList Orvane::listedPaths() const
{
    QStringList paths;
    for (int row = 0; row < ui.listWidget_Paths->count(); ++row)
        paths.append(ui.listWidget_Paths->item(row)->text());
    return paths;
}
