// The window's form and the path list's Delete-key handling.

#include "testsupport.h"
#include "window/listwidgettool.h"
#include "window/orvane.h"

#include <QtTest>
#include <QtWidgets>

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void widgets_data();
    void widgets();
    void window();
    void textsAreTranslatedInContextOrvane();
    void tabOrder();
    void styleSheet();
    void showingPrintsNothing();
    void slotOrder();
    void resources();
    void deleteKey_data();
    void deleteKey();
};

void TestForm::widgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");

    QTest::newRow("label_envOptions")
        << "label_envOptions" << QByteArray("QLabel") << QRect(10, 10, 371, 16)
        << "Настройка путей до клиентских библиотек";
    QTest::newRow("pushButton_default") << "pushButton_default" << QByteArray("QPushButton")
                                        << QRect(20, 370, 111, 23) << "По умолчанию";
    QTest::newRow("pushButton_start") << "pushButton_start" << QByteArray("QPushButton")
                                      << QRect(269, 370, 111, 23) << "Запустить";
    QTest::newRow("label_unixodbc")
        << "label_unixodbc" << QByteArray("QLabel") << QRect(20, 30, 361, 81)
        << "Если необходимо соединение с Microsoft SQL\n"
           "Server добавте путь до UnixODBC библиотек\n"
           "и FreeTDS библиотек.\n"
           "Если необходимо соединение с Oracle сервером\n"
           "добавте путь до клиентских библиотек Oralcle";
    QTest::newRow("pushButton_PathO") << "pushButton_PathO" << QByteArray("QPushButton")
                                      << QRect(270, 270, 111, 23) << "Добавить";
    QTest::newRow("checkBox_ask") << "checkBox_ask" << QByteArray("QCheckBox")
                                  << QRect(20, 270, 241, 17) << "Не спрашивать больше";
    QTest::newRow("listWidget_Paths") << "listWidget_Paths" << QByteArray("ListWidgetTool")
                                      << QRect(20, 120, 361, 131) << QString();
}

void TestForm::widgets()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, className);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    Orvane window("/nowhere", {});
    const QList<QWidget *> found = window.findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    QWidget *widget = found.first();
    QCOMPARE(QByteArray(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget(), window.centralWidget());
    QCOMPARE(widget->geometry(), geometry);
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        QCOMPARE(label->text(), text);
        QVERIFY(!label->wordWrap());
    } else if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
        QCOMPARE(button->text(), text);
    } else {
        QCOMPARE(qobject_cast<QListWidget *>(widget)->count(), 0);
    }
}

void TestForm::window()
{
    Orvane window("/nowhere", {"a"});
    QCOMPARE(window.objectName(), QString("Orvane"));
    QCOMPARE(window.windowTitle(), QString("Установщик обновлений"));
    QCOMPARE(window.size(), QSize(400, 408));
    QCOMPARE(window.minimumSize(), QSize(0, 0));
    QCOMPARE(window.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    // ":/resources/icon.bmp" is not among the resources: the icon is empty.
    QVERIFY(window.windowIcon().availableSizes().isEmpty());
    QVERIFY(window.windowIcon().pixmap(48).isNull());
    QVERIFY(!window.isVisible());

    QVERIFY(window.centralWidget());
    QCOMPARE(window.centralWidget()->objectName(), QString("centralWidget"));
    QVERIFY(!window.menuWidget());
    QVERIFY(!window.findChild<QStatusBar *>());
    QVERIFY(!window.findChild<QToolBar *>());
    QVERIFY(!window.centralWidget()->layout());
    QCOMPARE(window.centralWidget()->children().size(), 7);

    QVERIFY(!child<QCheckBox>(window, "checkBox_ask")->isChecked());
    QVERIFY(window.lastErrorText().isEmpty());
}

// Marks every text that passes through it with its context.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *,
                      int n) const override
    {
        if (n != -1)
            return QString();
        return QLatin1Char('[') + QString::fromUtf8(context) + QLatin1Char(']') +
               QString::fromUtf8(sourceText);
    }
    bool isEmpty() const override { return false; }
};

void TestForm::textsAreTranslatedInContextOrvane()
{
    MarkingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    Orvane window("/nowhere", {});
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(window.windowTitle(), QString("[Orvane]Установщик обновлений"));
    for (QLabel *label : window.findChildren<QLabel *>())
        QVERIFY2(label->text().startsWith("[Orvane]"), qPrintable(label->objectName()));
    for (QAbstractButton *button : window.findChildren<QAbstractButton *>())
        QVERIFY2(button->text().startsWith("[Orvane]"), qPrintable(button->objectName()));
}

void TestForm::tabOrder()
{
    Orvane window("/nowhere", {});
    QStringList chain;
    QWidget *widget = child<QWidget>(window, "pushButton_start");
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) &&
            widget->parentWidget() == window.centralWidget())
            chain.append(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget->objectName() != "pushButton_start");
    QCOMPARE(chain, QStringList({"pushButton_start", "pushButton_default", "pushButton_PathO",
                                 "checkBox_ask", "listWidget_Paths"}));
}

void TestForm::styleSheet()
{
    using Rule = QPair<QString, QStringList>;
    // The gradients are long values split over several literals, not lists
    // that lack a comma.
    // NOLINTBEGIN(bugprone-suspicious-missing-comma)
    const QList<Rule> expected{
        {"QPushButton",
         {"color: white",
          "background-color: QLinearGradient(spread:pad, x1:0, y1:0, x2:0, y2:1, stop:0 "
          "rgb(142,193,225), stop:0.1 rgb(132,183,215), stop:0.49 rgb(142,183,225), stop: 0.5 "
          "rgb(132,183,215), stop: 1 rgb(11,73,157))",
          "border-width: 1px", "border-color: #339", "border-style: solid", "border-radius: 3",
          "padding: 3px", "padding-left: 5px", "padding-right: 5px", "min-width: 50"}},
        {"QPushButton:pressed",
         {"background-color: QLinearGradient(spread:pad, x1:0, y1:0, x2:0, y2:1, stop:0 "
          "rgb(132,183,215), stop:0.1 rgb(122,173,205), stop:0.49 rgb(132,173,215), stop: 0.5 "
          "rgb(122,173,205), stop: 1 rgb(1,63,147))",
          "border-radius: 3px", "border-width: 2px", "border-style: solid",
          "border-color: rgb(85, 170, 255)"}},
        {"QPushButton:disabled",
         {"color: white",
          "background-color: QLinearGradient( x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #fff, stop: "
          "0.1 #eee, stop: 0.49 #ccc, stop: 0.5 #bbb, stop: 1 #ccc)",
          "border-width: 1px", "border-color: #ffffff", "border-style: solid", "border-radius: 3",
          "padding: 3px", "padding-left: 5px", "padding-right: 5px"}},
        {"QPushButton:focus",
         {"border-radius: 3px", "border-width: 2px", "border-style: solid",
          "border-color: rgb(85, 170, 255)"}},
        {"QDialog",
         {"background-color: qlineargradient(spread:pad, x1:0, y1:0, x2:1, y2:0, stop:0 "
          "rgba(200, 200, 200, 255) , stop:1 rgba(255, 255, 255, 255))"}},
        {"QListView",
         {"margin: 0px 0px 5px 0px",
          "background-color: qlineargradient(spread:pad, x1:0, y1:0, x2:1, y2:0, stop:0 "
          "rgba(255, 255, 255, 255) , stop:1 rgba(200, 200, 200, 255))",
          "color: #000000", "show-decoration-selected: 0", "selection-background-color: #333333",
          "selection-color: #ffffff"}},
        {"QListView:focus",
         {"border-radius: 3px", "border-width: 1px", "border-style: solid",
          "border-color: rgb(85, 170, 255)"}},
    };
    // NOLINTEND(bugprone-suspicious-missing-comma)

    Orvane window("/nowhere", {});
    // Rules and declarations in order, each with white space around it removed.
    QList<Rule> rules;
    const QStringList blocks = window.styleSheet().split('}', Qt::SkipEmptyParts);
    for (const QString &block : blocks) {
        if (block.trimmed().isEmpty())
            continue;
        const int brace = block.indexOf('{');
        QVERIFY2(brace > 0, qPrintable(block));
        QStringList declarations;
        for (const QString &declaration : block.mid(brace + 1).split(';', Qt::SkipEmptyParts)) {
            if (!declaration.trimmed().isEmpty())
                declarations.append(declaration.trimmed());
        }
        rules.append({block.left(brace).trimmed(), declarations});
    }
    QCOMPARE(rules.size(), expected.size());
    for (int i = 0; i < rules.size(); ++i) {
        QCOMPARE(rules.at(i).first, expected.at(i).first);
        QCOMPARE(rules.at(i).second, expected.at(i).second);
    }
    // The window carries the one sheet; the widgets inherit it.
    for (QWidget *widget : window.findChildren<QWidget *>())
        QVERIFY2(widget->styleSheet().isEmpty(), qPrintable(widget->objectName()));
}

namespace {
QStringList messages;

void collectMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    // The offscreen platform's notes about what it leaves out ("This plugin
    // does not support raise()") belong to the test's platform, not to the
    // window.
    if (!message.startsWith(QLatin1String("This plugin does not support")))
        messages.append(message);
}
} // namespace

void TestForm::showingPrintsNothing()
{
    // Qt reports what it cannot read in the style sheet when a widget is
    // polished and its states are drawn; a normal start prints nothing.
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectMessage);
    {
        Orvane window("/nowhere", {});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *start = window.findChild<QPushButton *>("pushButton_start");
        start->setFocus();
        QTest::mousePress(start, Qt::LeftButton);
        window.grab();
        QTest::mouseRelease(start, Qt::LeftButton);
        start->setEnabled(false);
        window.grab();
    }
    qInstallMessageHandler(previous);
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));
}

void TestForm::slotOrder()
{
    const QMetaObject &meta = Orvane::staticMetaObject;
    QCOMPARE(meta.className(), "Orvane");
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 4);
    const QList<QByteArray> expected{"startClicked()", "defaultClicked()", "oClicked()",
                                     "askCheckStateChanged(int)"};
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod method = meta.method(meta.methodOffset() + i);
        QCOMPARE(method.methodSignature(), expected.at(i));
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Public);
    }
    QCOMPARE(ListWidgetTool::staticMetaObject.className(), "ListWidgetTool");
    QCOMPARE(ListWidgetTool::staticMetaObject.methodCount(),
             ListWidgetTool::staticMetaObject.methodOffset());
}

void TestForm::resources()
{
    // One 48 x 48 icon, under a name of its own; nothing under the form's name.
    const QStringList files = QDir(":/resources").entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    QVERIFY(files.first().endsWith(".ico"));
    QCOMPARE(QImage(":/resources/" + files.first()).size(), QSize(48, 48));
    QVERIFY(!QFile::exists(":/resources/icon.bmp"));
}

// script: one letter per key event; capitals press, small letters release.
// D/d: Delete, B/b: Backspace, F/f: F5.
void TestForm::deleteKey_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<int>("selectedRow"); // -1: none
    QTest::addColumn<QStringList>("remaining");

    const QStringList all{"/a", "/b", "/c"};
    QTest::newRow("press and release") << QByteArray("Dd") << 1 << QStringList{"/a", "/c"};
    QTest::newRow("first row") << QByteArray("Dd") << 0 << QStringList{"/b", "/c"};
    QTest::newRow("nothing selected") << QByteArray("Dd") << -1 << all;
    QTest::newRow("press alone") << QByteArray("D") << 1 << all;
    QTest::newRow("release alone") << QByteArray("d") << 1 << all;
    QTest::newRow("other key pressed in between") << QByteArray("DFd") << 1 << all;
    QTest::newRow("other key released after the press") << QByteArray("DfFd") << 1 << all;
    QTest::newRow("other key released, Delete pressed again")
        << QByteArray("DFfDd") << 1 << QStringList{"/a", "/c"};
    QTest::newRow("other key's release resets") << QByteArray("DFfd") << 1 << all;
    QTest::newRow("Backspace") << QByteArray("Bb") << 1 << all;
}

void TestForm::deleteKey()
{
    QFETCH(QByteArray, script);
    QFETCH(int, selectedRow);
    QFETCH(QStringList, remaining);

    Orvane window("/nowhere", {});
    auto *list = child<ListWidgetTool>(window, "listWidget_Paths");
    list->addItems({"/a", "/b", "/c"});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    list->setFocus();
    if (selectedRow >= 0)
        list->setCurrentRow(selectedRow);
    else
        list->clearSelection();

    for (const char step : script) {
        const Qt::Key key = QChar(step).toUpper() == 'D'   ? Qt::Key_Delete
                            : QChar(step).toUpper() == 'B' ? Qt::Key_Backspace
                                                           : Qt::Key_F5;
        if (QChar(step).isUpper())
            QTest::keyPress(list, key);
        else
            QTest::keyRelease(list, key);
    }

    QCOMPARE(listTexts(list), remaining);
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
