#include "tests/support/qt/Golden.h"

#include <QString>

#include <algorithm>
#include <cstdlib>

std::string GoldenPath(const std::string& name)
{
    const char* data = std::getenv("TARVOLIN_TEST_DATA");
    const std::string dir = data && *data ? data : TARVOLIN_SOURCE_DIR "/tests/data";
    return dir + "/golden/" + name + ".png";
}

::testing::AssertionResult MatchesGolden(const QImage& image, const std::string& name)
{
    const QString path = QString::fromStdString(GoldenPath(name));
    const QImage actual = image.convertToFormat(QImage::Format_RGB32);
    const char* update = std::getenv("TARVOLIN_UPDATE_GOLDEN");
    if (update && *update && std::string(update) != "0") {
        if (!actual.save(path, "PNG"))
            return ::testing::AssertionFailure() << "cannot write " << path.toStdString();
        return ::testing::AssertionSuccess();
    }
    const QImage golden = QImage(path).convertToFormat(QImage::Format_RGB32);
    if (golden.isNull())
        return ::testing::AssertionFailure()
               << "no golden image " << path.toStdString()
               << " (run with TARVOLIN_UPDATE_GOLDEN=1 to create it)";
    if (golden.size() != actual.size())
        return ::testing::AssertionFailure()
               << name << ": size " << actual.width() << "x" << actual.height() << ", golden "
               << golden.width() << "x" << golden.height();
    long differing = 0;
    for (int y = 0; y < actual.height(); ++y) {
        const QRgb* a = reinterpret_cast<const QRgb*>(actual.constScanLine(y));
        const QRgb* g = reinterpret_cast<const QRgb*>(golden.constScanLine(y));
        for (int x = 0; x < actual.width(); ++x) {
            const int d = std::max({std::abs(qRed(a[x]) - qRed(g[x])),
                                    std::abs(qGreen(a[x]) - qGreen(g[x])),
                                    std::abs(qBlue(a[x]) - qBlue(g[x]))});
            if (d > 24) ++differing;
        }
    }
    const long allowed = static_cast<long>(actual.width()) * actual.height() / 500;
    if (differing > allowed)
        return ::testing::AssertionFailure()
               << name << ": " << differing << " pixels differ (allowed " << allowed << ")";
    return ::testing::AssertionSuccess();
}
