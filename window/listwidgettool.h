#ifndef ORVANE_WINDOW_LISTWIDGETTOOL_H
#define ORVANE_WINDOW_LISTWIDGETTOOL_H

#include <QListWidget>

class QKeyEvent;

// The window's list of library directories. Releasing the Delete key removes
// the selected entries, but only when Delete was also the last key pressed
// in the list, so a release that belongs to a press elsewhere does nothing.
class ListWidgetTool : public QListWidget
{
    Q_OBJECT

public:
    explicit ListWidgetTool(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    int lastKey = 0; // key of the last press the list received; 0: none
};

#endif // ORVANE_WINDOW_LISTWIDGETTOOL_H
