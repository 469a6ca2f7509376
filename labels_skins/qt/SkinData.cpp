#include "labels_skins/qt/SkinData.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include <utility>

namespace {

struct TRoleName {
    const char* name;
    QPalette::ColorRole role;
};

const TRoleName kRoles[] = {
    {"window", QPalette::Window},
    {"window-text", QPalette::WindowText},
    {"base", QPalette::Base},
    {"alternate-base", QPalette::AlternateBase},
    {"text", QPalette::Text},
    {"button", QPalette::Button},
    {"button-text", QPalette::ButtonText},
    {"bright-text", QPalette::BrightText},
    {"highlight", QPalette::Highlight},
    {"highlighted-text", QPalette::HighlightedText},
    {"light", QPalette::Light},
    {"midlight", QPalette::Midlight},
    {"mid", QPalette::Mid},
    {"dark", QPalette::Dark},
    {"shadow", QPalette::Shadow},
    {"link", QPalette::Link},
    {"tooltip-base", QPalette::ToolTipBase},
    {"tooltip-text", QPalette::ToolTipText},
    {"placeholder-text", QPalette::PlaceholderText},
};

QColor ToQt(TSkinColor c) { return QColor(c.r, c.g, c.b); }

QPalette PaletteOf(const TSkinModel& m, const QPalette& builtIn)
{
    QPalette p = builtIn;
    for (const TRoleName& r : kRoles) {
        const QColor c = ToQt(SkinRoleColor(m, r.name));
        p.setColor(QPalette::Active, r.role, c);
        p.setColor(QPalette::Inactive, r.role, c);
        p.setColor(QPalette::Disabled, r.role, c);
    }
    const QColor off = ToQt(SkinRoleColor(m, "disabled-text"));
    for (QPalette::ColorRole r : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, r, off);
    return p;
}

// The widget's own colours over the built-in palette, every role set, so
// that later changes of the application palette pass it by. A colour is the
// widget's own when it differs from the application's current one (the
// resolve mask cannot tell: the application palette sets every role).
QPalette Frozen(const QPalette& own, const QPalette& app, const QPalette& builtIn)
{
    QPalette p;
    for (int g = 0; g < QPalette::NColorGroups; ++g)
        for (int r = 0; r < QPalette::NColorRoles; ++r) {
            const auto group = static_cast<QPalette::ColorGroup>(g);
            const auto role = static_cast<QPalette::ColorRole>(r);
            if (role == QPalette::NoRole) continue;
            p.setBrush(group, role, own.brush(group, role) != app.brush(group, role) ? own.brush(group, role) : builtIn.brush(group, role));
        }
    return p;
}

bool Tagged(const QWidget* w)
{
    const QVariant v = w->property("tag");
    return v.isValid() && v.toInt() == TSkinData::ExcludedTag;
}

const char* kFrozenProperty = "skinFrozen";

}  // namespace

TSkinData::TSkinData(QObject* parent)
    : QObject(parent), mBuiltIn(QApplication::palette()), mBuiltInSheet(qApp->styleSheet())
{
    setObjectName("SkinData1");
    qApp->installEventFilter(this);
}

TSkinData::~TSkinData()
{
    qApp->removeEventFilter(this);
    QApplication::setPalette(mBuiltIn);
    qApp->setStyleSheet(mBuiltInSheet);
}

bool TSkinData::IsExcluded(const QWidget* w)
{
    for (; w; w = w->parentWidget()) {
        if (Tagged(w)) return true;
        if (w->isWindow()) break;
    }
    return false;
}

void TSkinData::freeze(QWidget* w)
{
    if (w->property(kFrozenProperty).toBool()) return;
    // Under a style sheet Qt passes no palette from parent to child, so
    // every control of an excluded part keeps a full palette of its own:
    // its own colours over its parent's (the tagged control's over the
    // built-in palette).
    QPalette base = mBuiltIn;
    if (Tagged(w)) {
        // Drawn on its own background, not on the skinned window behind it.
        w->setAutoFillBackground(true);
    } else {
        QWidget* parent = w->parentWidget();
        freeze(parent);
        base = parent->palette();
    }
    w->setPalette(Frozen(w->palette(), QApplication::palette(w), base));
    w->setProperty(kFrozenProperty, true);
}

void TSkinData::prepare(QWidget* w)
{
    if (IsExcluded(w)) {
        freeze(w);
        if (w->property(MarkProperty).toBool()) w->setProperty(MarkProperty, false);
    } else if (!w->property(MarkProperty).toBool()) {
        w->setProperty(MarkProperty, true);
    }
}

bool TSkinData::eventFilter(QObject* watched, QEvent* e)
{
    // Controls created after the skin was set are prepared before the style
    // polishes them.
    if (e->type() == QEvent::Polish && watched->isWidgetType()) prepare(static_cast<QWidget*>(watched));
    return QObject::eventFilter(watched, e);
}

void TSkinData::setSkinFile(const QString& path)
{
    mSkinFile = path;
    mLoaded = false;
    mModel = {};
    mSheet.clear();
    TSkinParseResult r = ReadSkinFile(path.toStdString());
    if (r.ok) {
        mModel = std::move(r.model);
        mLoaded = true;
        mError.clear();
        mFault.clear();
        mSheet = QString::fromStdString(SkinStyleSheet(mModel, MarkProperty));
    } else {
        mError = QString::fromStdString(SkinFaultMessage(path.toStdString(), r));
        mFault = QString::fromStdString(r.error);
    }
    apply();
    if (!mLoaded && OnFault) OnFault(mError);
}

void TSkinData::apply()
{
    for (QWidget* w : QApplication::allWidgets()) prepare(w);
    QApplication::setPalette(mLoaded ? PaletteOf(mModel, mBuiltIn) : mBuiltIn);
    qApp->setStyleSheet(mLoaded ? mSheet : mBuiltInSheet);
}
