#include "TestMain.h"
#include "Tiling.h"

#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>

class TestTiling : public QObject {
    Q_OBJECT
private slots:
    void rectangles_data();
    void rectangles();
    void coversTheAreaExactly_data();
    void coversTheAreaExactly();
    void tilesTheShownSubWindows();
};

void TestTiling::rectangles_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QList<QRect>>("expected");
    const QRect area(0, 0, 900, 600);
    QTest::newRow("none") << 0 << area << QList<QRect>{};
    QTest::newRow("1") << 1 << area << QList<QRect>{{0, 0, 900, 600}};
    QTest::newRow("2 side by side")
        << 2 << area << QList<QRect>{{0, 0, 450, 600}, {450, 0, 450, 600}};
    QTest::newRow("3 side by side")
        << 3 << area << QList<QRect>{{0, 0, 300, 600}, {300, 0, 300, 600}, {600, 0, 300, 600}};
    QTest::newRow("4 in two rows")
        << 4 << area
        << QList<QRect>{
               {0, 0, 450, 300}, {0, 300, 450, 300}, {450, 0, 450, 300}, {450, 300, 450, 300}};
    QTest::newRow("5: last column takes three") << 5 << area
                                                << QList<QRect>{{0, 0, 450, 300},
                                                                {0, 300, 450, 300},
                                                                {450, 0, 450, 200},
                                                                {450, 200, 450, 200},
                                                                {450, 400, 450, 200}};
    QTest::newRow("7: three columns, last of three")
        << 7 << area << QList<QRect>{{0, 0, 300, 300},     {0, 300, 300, 300}, {300, 0, 300, 300},
                                     {300, 300, 300, 300}, {600, 0, 300, 200}, {600, 200, 300, 200},
                                     {600, 400, 300, 200}};
    QTest::newRow("3 over an odd width, offset")
        << 3 << QRect(10, 20, 1000, 601)
        << QList<QRect>{{10, 20, 333, 601}, {343, 20, 333, 601}, {676, 20, 334, 601}};
    QTest::newRow("empty area") << 3 << QRect(0, 0, 0, 600) << QList<QRect>{};
}

void TestTiling::rectangles() {
    QFETCH(int, count);
    QFETCH(QRect, area);
    QFETCH(QList<QRect>, expected);
    QCOMPARE(verticalTileRects(count, area), expected);
}

void TestTiling::coversTheAreaExactly_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("lastColumn");
    QTest::newRow("8") << 8 << 4 << 2;
    QTest::newRow("9") << 9 << 3 << 3;
    QTest::newRow("10") << 10 << 3 << 4;
    QTest::newRow("17") << 17 << 4 << 5;
    QTest::newRow("26") << 26 << 5 << 6;
}

void TestTiling::coversTheAreaExactly() {
    QFETCH(int, count);
    QFETCH(int, columns);
    QFETCH(int, lastColumn);
    const QRect area(0, 0, 1016, 381);
    const QList<QRect> rects = verticalTileRects(count, area);
    QCOMPARE(rects.size(), count);
    long long covered = 0;
    QList<int> lefts;
    for (int i = 0; i < rects.size(); ++i) {
        QVERIFY(area.contains(rects[i]));
        covered += static_cast<long long>(rects[i].width()) * rects[i].height();
        for (int j = 0; j < i; ++j)
            QVERIFY2(!rects[i].intersects(rects[j]), qPrintable(QString::number(i)));
        if (!lefts.contains(rects[i].left()))
            lefts.append(rects[i].left());
    }
    QCOMPARE(covered, static_cast<long long>(area.width()) * area.height());
    QCOMPARE(lefts.size(), columns);
    int inLast = 0;
    for (const QRect& r : rects)
        inLast += r.left() == lefts.last();
    QCOMPARE(inLast, lastColumn);
}

void TestTiling::tilesTheShownSubWindows() {
    QMdiArea area;
    area.resize(900, 600);
    QList<QMdiSubWindow*> windows;
    for (int i = 0; i < 5; ++i)
        windows.append(area.addSubWindow(new QLabel(QString::number(i))));
    area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&area));
    windows[1]->hide();
    windows[3]->showMinimized();
    windows[4]->showMaximized();
    const QRect minimised = windows[3]->geometry();
    const QSize viewport = area.viewport()->size();

    tileVertically(&area);
    const QList<QRect> expected = verticalTileRects(3, QRect(QPoint(0, 0), viewport));
    QCOMPARE(windows[0]->geometry(), expected[0]);
    QCOMPARE(windows[2]->geometry(), expected[1]);
    QCOMPARE(windows[4]->geometry(), expected[2]);
    QVERIFY(!windows[4]->isMaximized());
    QVERIFY(windows[1]->isHidden());
    QVERIFY(windows[3]->isMinimized());
    QCOMPARE(windows[3]->geometry(), minimised);

    // Tiling nothing leaves an empty work area as it is.
    QMdiArea empty;
    tileVertically(&empty);
    QVERIFY(empty.subWindowList().isEmpty());
}

QUORVANE_TEST_MAIN(TestTiling)
#include "tst_tiling.moc"
