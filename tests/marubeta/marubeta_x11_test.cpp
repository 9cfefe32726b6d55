// Under a real X server: the clip text as another program reads it from the clipboard, and a
// screenshot of the window after a lookup, kept for reviewers in build/screenshots/.
#include "tests/marubeta/marubeta_fixture.h"

#include <QClipboard>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <gtest/gtest.h>

using ubin::test::MarubetaFixture;

namespace {

// Runs a program while this one keeps serving its events (it owns the clipboard).
QString RunProgram(const QString& program, const QStringList& args)
{
    QProcess p;
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&p, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    p.start(program, args);
    loop.exec();
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

TEST(MarubetaOnX11, AnotherProgramReadsTheClipText)
{
    MarubetaFixture f("0,1,1,1,1,1,1,0,0");
    f.Open();
    f.TypeAndEnter(QStringLiteral("7300014"));
    QTest::mouseClick(f.Find<QPushButton>("Command1"), Qt::LeftButton);
    const QString text = RunProgram(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
    // All flags on, the prefecture added to the city name and reading.
    EXPECT_EQ(text, QStringLiteral("730-0014,広島県広島市中区, 上幟町,ﾋﾛｼﾏｹﾝﾋﾛｼﾏｼﾅｶｸｶﾐﾉﾎﾞﾘﾁｮｳ,34101"));
}

TEST(MarubetaOnX11, ScreenshotAfterALookup)
{
    MarubetaFixture f;
    auto& w = f.Open();
    f.TypeAndEnter(QStringLiteral("7300014"));
    QTest::qWait(300);
    const QString folder = QStringLiteral(UBIN_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    const QPixmap shot = w.screen()->grabWindow(0, w.frameGeometry().x(), w.frameGeometry().y(),
                                                 w.frameGeometry().width(), w.frameGeometry().height());
    ASSERT_FALSE(shot.isNull());
    ASSERT_TRUE(shot.save(folder + QStringLiteral("/marubeta.png")));
    // Every element lies inside the window: nothing is cut off at its edges.
    for (QWidget* child : w.centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(w.centralWidget()->rect().contains(child->geometry())) << child->objectName().toStdString();
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
