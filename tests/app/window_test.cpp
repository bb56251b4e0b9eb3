// The desktop side in process, on a real X server with a system tray (run by with-xsession.sh):
// the window's layout, the menu, the debug memo, and the icon shown only after the connection.
#include "app/UMain.h"
#include "app/desktop/cooltrayicon.h"
#include "app/desktop/desktopshell.h"
#include "app/desktop/mainwindow.h"

#include "apptestutil.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>

#include <gtest/gtest.h>

namespace lumbrio {
namespace {

using testing::StoreFolder;

class Desktop : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_store.storeReady()) << m_store.storeMessages().toStdString();
        const quint16 port = testing::freePort();
        ASSERT_NE(port, 0);
        m_store.writeConf(QStringLiteral("[TCP]\nPUERTO=%1\n").arg(port));
        m_shell.attach(m_form);
    }

    void start(const QStringList &args)
    {
        m_form.FormCreate(OpcionesArranque{args, m_store.confPath(), RegionalSettings{}});
    }

    /// The widget at the centre of a label, as the user would see it.
    QWidget *topmostAt(const QLabel *label) const
    {
        return m_shell.window()->childAt(label->geometry().center());
    }

    StoreFolder m_store;
    DesktopShell m_shell;
    TFMain m_form;
};

TEST_F(Desktop, WindowAndMenuAreLaidOutAsTheAboutBox)
{
    MainWindow *w = m_shell.window();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Srv Lumbrio"));
    EXPECT_EQ(w->size(), QSize(264, 144));
    EXPECT_EQ(w->minimumSize(), w->maximumSize());
    const Qt::WindowFlags flags = w->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w->font().pointSize(), 8);

    EXPECT_EQ(w->Label1->text(), QStringLiteral("Servidor lumbrio V 2.1"));
    EXPECT_EQ(w->Label2->text(), QStringLiteral("Desarrollado por:"));
    EXPECT_FALSE(w->Label3->text().isEmpty());
    EXPECT_FALSE(w->Label4->text().isEmpty());
    // Each label is centred where the about box places it, and the lines do not overlap.
    const std::pair<QLabel *, QRect> places[] = {{w->Label1, {70, 16, 119, 13}},
                                                 {w->Label2, {86, 33, 80, 13}},
                                                 {w->Label3, {83, 57, 86, 13}},
                                                 {w->Label4, {82, 74, 88, 13}}};
    int previousBottom = 0;
    for (const auto &[label, box] : places) {
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_NEAR(label->geometry().center().x(), box.center().x(), 1);
        EXPECT_EQ(label->y(), box.y());
        EXPECT_GE(label->y(), previousBottom);
        previousBottom = label->y() + 13;
    }

    EXPECT_EQ(w->bbAcepta->text(), QStringLiteral("&Aceptar"));
    EXPECT_EQ(w->bbAcepta->geometry(), QRect(88, 110, 75, 25));
    EXPECT_FALSE(w->bbAcepta->icon().isNull());
    ASSERT_NE(w->mdebug, nullptr);
    EXPECT_EQ(w->mdebug->geometry(), QRect(15, 2, 225, 105));
    EXPECT_EQ(w->bbAcepta->nextInFocusChain(), w->mdebug);

    QMenu *menu = m_shell.pmMenu();
    const QList<QAction *> items = menu->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0], m_shell.Acercade1);
    EXPECT_EQ(items[0]->text(), QStringLiteral("&Acerca de ..."));
    EXPECT_EQ(items[1], m_shell.Salir1);
    EXPECT_EQ(items[1]->text(), QStringLiteral("&Salir"));
    EXPECT_EQ(menu->defaultAction(), nullptr);
    EXPECT_EQ(m_shell.ctIcon()->PopupMenu(), menu);
    EXPECT_TRUE(m_shell.ctIcon()->systemTrayIcon()->toolTip().isEmpty());

    // Created hidden, icon hidden.
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(m_shell.ctIcon()->systemTrayIcon()->isVisible());
}

TEST_F(Desktop, DebugMemoCoversTheLabels)
{
    start({QStringLiteral("DEBUG")});
    EXPECT_TRUE(m_shell.ctIcon()->systemTrayIcon()->isVisible());
    m_shell.Acercade1Click();
    MainWindow *w = m_shell.window();
    ASSERT_TRUE(w->isVisible());
    ASSERT_NE(w->mdebug, nullptr);
    for (QLabel *label : {w->Label1, w->Label2, w->Label3, w->Label4}) {
        QWidget *seen = topmostAt(label);
        EXPECT_TRUE(seen == w->mdebug || w->mdebug->isAncestorOf(seen))
            << label->text().toStdString();
    }
    m_shell.bbAceptaClick();
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(m_shell.ctIcon()->systemTrayIcon()->isVisible());
}

TEST_F(Desktop, WithoutDebugTheLabelsShow)
{
    start({});
    m_shell.Acercade1Click();
    MainWindow *w = m_shell.window();
    EXPECT_EQ(w->mdebug, nullptr);
    for (QLabel *label : {w->Label1, w->Label2, w->Label3, w->Label4})
        EXPECT_EQ(topmostAt(label), label);
    // A second "show" leaves it shown.
    m_shell.Acercade1Click();
    EXPECT_TRUE(w->isVisible());
}

TEST_F(Desktop, DebugMemoKeepsOnlyTheLatestLines)
{
    start({QStringLiteral("DEBUG")});
    QPlainTextEdit *memo = m_shell.window()->mdebug;
    ASSERT_NE(memo, nullptr);
    const int total = MainWindow::MaxDebugLines + 25;
    for (int i = 0; i < total; ++i)
        m_form.debugLog(QStringLiteral("R\x02"
                                       "01|%1")
                            .arg(i));
    EXPECT_EQ(memo->blockCount(), MainWindow::MaxDebugLines);
    EXPECT_EQ(memo->document()->firstBlock().text(), QStringLiteral("R<STX>01|25"));
    EXPECT_EQ(memo->document()->lastBlock().text(), QStringLiteral("R<STX>01|%1").arg(total - 1));
}

TEST_F(Desktop, FailedStartNeverShowsTheIcon)
{
    m_store.writeConf(QStringLiteral("[SRV_DREL]\nBASE=missing.db\n"));
    EXPECT_THROW(start({}), StartFailure);
    EXPECT_FALSE(m_shell.ctIcon()->IconVisible());
    EXPECT_FALSE(m_shell.ctIcon()->systemTrayIcon()->isVisible());
    EXPECT_FALSE(m_shell.window()->isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace
} // namespace lumbrio

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
