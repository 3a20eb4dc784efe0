#include "Assets.h"

#include <QFontDatabase>
#include <QStringList>

// Q_INIT_RESOURCE has to be used from the global namespace.
static int initAssetsResources()
{
    Q_INIT_RESOURCE(assets);
    return 1;
}

namespace assets {

namespace detail {
int initResources()
{
    static const int once = initAssetsResources();
    return once;
}
} // namespace detail

namespace {

struct Families {
    QString display;
    QString ui;
};

QString addFont(const QString& resourcePath)
{
    const int id = QFontDatabase::addApplicationFont(resourcePath);
    if (id < 0)
        return {};
    return QFontDatabase::applicationFontFamilies(id).value(0);
}

const Families& families()
{
    static const Families loaded = [] {
        detail::initResources();
        const QString fallback = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
        Families f;
        f.display = addFont(kDisplayFontFile);
        f.ui = addFont(kUiFontFile);
        const QString uiBold = addFont(kUiBoldFontFile);
        if (f.ui.isEmpty())
            f.ui = uiBold;
        if (f.display.isEmpty())
            f.display = fallback;
        if (f.ui.isEmpty())
            f.ui = fallback;
        return f;
    }();
    return loaded;
}

} // namespace

QString registerBundledFonts()
{
    return families().display;
}

QString uiFontFamily()
{
    return families().ui;
}

} // namespace assets
