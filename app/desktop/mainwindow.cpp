#include "app/desktop/mainwindow.h"

#include "app/debugtext.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>

namespace lumbrio {
namespace {

/// A centred label on the given box; a text wider than the box widens it about its centre.
QLabel *makeLabel(QWidget *parent, const QString &text, QRect box)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    const int width = std::max(box.width(), label->sizeHint().width());
    const int height = std::max(box.height(), label->sizeHint().height());
    label->setGeometry(box.center().x() - width / 2, box.top(), width, height);
    return label;
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("Srv Lumbrio"));
    QFont dialogFont = font();
    dialogFont.setPointSize(8);
    setFont(dialogFont);
    setFixedSize(264, 144);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    Label1 = makeLabel(this, QStringLiteral("Servidor lumbrio V 2.1"), QRect(70, 16, 119, 13));
    Label2 = makeLabel(this, QStringLiteral("Desarrollado por:"), QRect(86, 33, 80, 13));
    Label3 = makeLabel(this, QStringLiteral("Equipo Lumbrio"), QRect(83, 57, 86, 13));
    Label4 = makeLabel(this, QStringLiteral("Tiendas y kioscos"), QRect(82, 74, 88, 13));

    bbAcepta = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                               QStringLiteral("&Aceptar"), this);
    bbAcepta->setGeometry(88, 110, 75, 25);
    bbAcepta->setDefault(true);

    // Created after the labels so that it lies over them.
    mdebug = new QPlainTextEdit(this);
    mdebug->setGeometry(15, 2, 225, 105);
    mdebug->setReadOnly(true);
    mdebug->setLineWrapMode(QPlainTextEdit::NoWrap);
    mdebug->setMaximumBlockCount(MaxDebugLines);

    setTabOrder(bbAcepta, mdebug);
    bbAcepta->setFocus();
}

void MainWindow::destroyDebugMemo()
{
    delete mdebug;
    mdebug = nullptr;
}

void MainWindow::appendDebugLine(const QString &line)
{
    if (mdebug != nullptr)
        mdebug->appendPlainText(visibleControls(line));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    emit closeRequested();
}

} // namespace lumbrio
