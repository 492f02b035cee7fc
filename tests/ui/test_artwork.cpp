#include "ui/common/artwork.h"

#include <QTest>

using namespace powerlog;

namespace {

QImage imageOf(const QIcon& icon, QIcon::Mode mode = QIcon::Normal)
{
    return icon.pixmap(QSize(32, 32), 1.0, mode).toImage();
}

bool hasVisiblePixels(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0)
                return true;
        }
    }
    return false;
}

void verifyAllVisibleAndDistinct(const QList<QImage>& images)
{
    for (qsizetype i = 0; i < images.size(); ++i) {
        QVERIFY2(!images[i].isNull() && hasVisiblePixels(images[i]),
                 qPrintable(QStringLiteral("picture %1 is empty").arg(i)));
        for (qsizetype j = 0; j < i; ++j)
            QVERIFY2(images[i] != images[j],
                     qPrintable(QStringLiteral("pictures %1 and %2 match").arg(j).arg(i)));
    }
}

const QList<LoadPicture> kLoadPictures = {
    LoadPicture::Design, LoadPicture::Off,       LoadPicture::On,     LoadPicture::Forced,
    LoadPicture::Other,  LoadPicture::Highlight, LoadPicture::Unknown};

} // namespace

class TestArtwork : public QObject
{
    Q_OBJECT
private slots:
    void loadPicturesDiffer()
    {
        QList<QImage> images;
        for (LoadPicture p : kLoadPictures)
            images << loadPicture(p, 32, 1.0).toImage();
        verifyAllVisibleAndDistinct(images);
    }

    void loadPictureFollowsThePixelRatio()
    {
        const QPixmap pixmap = loadPicture(LoadPicture::On, 24, 2.0);
        QCOMPARE(pixmap.size(), QSize(48, 48));
        QCOMPARE(pixmap.devicePixelRatio(), 2.0);
        QCOMPARE(pixmap.deviceIndependentSize(), QSizeF(24, 24));
    }

    void loadIconMatchesLoadPicture()
    {
        QCOMPARE(imageOf(loadIcon(LoadPicture::Forced)),
                 loadPicture(LoadPicture::Forced, 32, 1.0).toImage());
    }

    void trayPicturesDiffer()
    {
        QList<QImage> images;
        for (int i = 0; i < kTrayPictureCount; ++i)
            images << imageOf(trayPicture(i));
        verifyAllVisibleAndDistinct(images);
        QCOMPARE(imageOf(trayPicture(kTrayPictureCount)), images[kTrayNoLink]);
    }

    void buttonIconsDiffer()
    {
        QList<QImage> images;
        for (Button b : {Button::Record, Button::Stop, Button::Refresh, Button::Options,
                         Button::Charts, Button::Clear})
            images << imageOf(buttonIcon(b));
        images << imageOf(appIcon());
        verifyAllVisibleAndDistinct(images);
    }

    void disabledButtonsFade()
    {
        const QIcon icon = buttonIcon(Button::Record);
        const QImage disabled = imageOf(icon, QIcon::Disabled);
        QVERIFY(hasVisiblePixels(disabled));
        QVERIFY(disabled != imageOf(icon));
        const QRgb centre = disabled.pixel(16, 16);
        QCOMPARE(qRed(centre), qGreen(centre));
        QCOMPARE(qGreen(centre), qBlue(centre));
    }

    void iconsRenderSharpAtHighDensity()
    {
        const QPixmap pixmap = appIcon().pixmap(QSize(32, 32), 2.0);
        QCOMPARE(pixmap.size(), QSize(64, 64));
        QCOMPARE(pixmap.devicePixelRatio(), 2.0);
    }
};

QTEST_MAIN(TestArtwork)
#include "test_artwork.moc"
