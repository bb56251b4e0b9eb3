#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace lumbrio {

/// The server's small about window: four text lines, the OK button and, in debug mode, the debug
/// memo over the text lines. Closing it asks the program to end.
class MainWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    /// The debug memo keeps only this many of the latest lines, so a server left in debug mode
    /// does not grow without end.
    static constexpr int MaxDebugLines = 10000;

    explicit MainWindow(QWidget *parent = nullptr);

    /// Removes the debug memo; mdebug is null afterwards.
    void destroyDebugMemo();
    /// Appends a line to the debug memo, if it exists, control characters shown by name.
    void appendDebugLine(const QString &line);

    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label3;
    QLabel *Label4;
    QPushButton *bbAcepta;
    QPlainTextEdit *mdebug;

signals:
    /// The close box was used.
    void closeRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
};

} // namespace lumbrio
