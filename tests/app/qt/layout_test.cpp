// The layout of every window and dialog of the program, under the built-in
// look and under each of the fourteen skins, offscreen: no two visible sibling
// controls overlap, no caption or item text is wider than its control's room
// (measured with the control's own font metrics and style), and no control
// reaches out of its parent. The ctest app.qt.layout runs it at device pixel
// ratio 1, app.qt.layout_2x (QT_SCALE_FACTOR=2) at 2.
#include "tests/support/qt/SimulatedCapture.h"
#include "app/StoreAccess.h"
#include "app/qt/MainAudio.h"
#include "app/qt/MeterEngine.h"
#include "app/qt/ProgramWindows.h"
#include "labels_skins/SkinChoice.h"
#include "labels_skins/qt/SkinData.h"
#include "metering/qt/uLoudness.h"
#include "monitoring/qt/MMWaveOpenDialog.h"
#include "monitoring/qt/uActions.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QTest>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string Name(const QWidget* w)
{
    const QString n = w->objectName().isEmpty() ? QString() : " " + w->objectName();
    return (w->metaObject()->className() + n).toStdString();
}

std::string Path(const QWidget* w)
{
    std::string p = Name(w);
    for (const QWidget* a = w->parentWidget(); a && !a->isWindow(); a = a->parentWidget()) p = Name(a) + " > " + p;
    return p;
}

QString Rect(const QRect& r)
{
    return QString("(%1,%2 %3x%4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// Qt's composite controls lay out their own parts: they are checked as one
// control, their parts are not.
bool IsComposite(const QWidget* w)
{
    return qobject_cast<const QAbstractScrollArea*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QLineEdit*>(w) ||
           qobject_cast<const QMenuBar*>(w) || qobject_cast<const QFileDialog*>(w);
}

// The deliberate exceptions, all in the correlation window: its panel,
// scales and end piece are one drawing made of five pictures with the
// readouts on it; the scope taps lie above the window but for their frame
// row; the settings below the fold are out of sight until "Set" opens them.
bool InCorrelation(const QWidget* w, std::initializer_list<const char*> names)
{
    if (w->window()->objectName() != "fCorre") return false;
    for (const char* n : names)
        if (w->objectName() == n) return true;
    return false;
}
bool CorrelationArt(const QWidget* w)
{
    return InCorrelation(w, {"Image1", "Image2", "Image3", "Image4", "Image5", "Lab_Min", "Lab_Max", "lab_cor_p",
                             "lab_cor_p2"});
}
bool CorrelationTap(const QWidget* w) { return InCorrelation(w, {"os_l", "os_r"}); }

bool OverlapAllowed(const QWidget* a, const QWidget* b)
{
    return (CorrelationArt(a) && CorrelationArt(b)) || (CorrelationTap(a) && CorrelationTap(b));
}

bool OutsideAllowed(const QWidget* w, const QRect& parent)
{
    return CorrelationTap(w) ||
           (InCorrelation(w, {"rg_channel", "rg_correlation"}) && w->geometry().top() >= parent.bottom());
}

// The width a line of text covers when drawn: mnemonic marks removed, up to
// the last inked pixel (trailing blanks and the last glyph's blank right
// bearing take no room).
int InkWidth(const QFontMetrics& fm, const QString& line)
{
    QString t;
    for (int i = 0; i < line.size(); ++i) {
        if (line[i] == '&' && i + 1 < line.size()) ++i;
        t += line[i];
    }
    while (!t.isEmpty() && t.back().isSpace()) t.chop(1);
    if (t.isEmpty()) return 0;
    return fm.horizontalAdvance(t) - std::max(0, fm.rightBearing(t.back()));
}

int TextWidth(const QWidget* w, const QString& text)
{
    int widest = 0;
    for (const QString& line : text.split('\n')) widest = std::max(widest, InkWidth(w->fontMetrics(), line));
    return widest;
}

// The room a caption has and the width it needs; room < 0 when there is
// nothing to measure.
struct TFit {
    int room = -1, need = 0;
    QString text;
};

TFit LabelFit(const QLabel* l)
{
    TFit f;
    if (l->text().isEmpty()) return f;
    QRect cr = l->contentsRect().adjusted(l->margin(), l->margin(), -l->margin(), -l->margin());
    int indent = l->indent();
    if (indent < 0 && l->frameWidth() > 0) indent = l->fontMetrics().horizontalAdvance('x') / 2;
    if (indent > 0 && (l->alignment() & (Qt::AlignLeft | Qt::AlignRight))) cr.setWidth(cr.width() - indent);
    f.room = cr.width();
    f.text = l->text();
    if (l->wordWrap()) {
        // Each word fits on a line and all lines fit in the height.
        for (const QString& word : l->text().split(QRegularExpression("\\s+"), Qt::SkipEmptyParts))
            f.need = std::max(f.need, TextWidth(l, word));
        if (l->heightForWidth(l->width()) > l->height()) f.need = f.room + 1;
    } else if (l->textFormat() == Qt::RichText || (l->textFormat() == Qt::AutoText && Qt::mightBeRichText(l->text()))) {
        QTextDocument doc;
        doc.setDefaultFont(l->font());
        doc.setDocumentMargin(0);
        doc.setHtml(l->text());
        f.need = static_cast<int>(doc.idealWidth() + 0.999);
    } else {
        f.need = TextWidth(l, l->text());
    }
    return f;
}

TFit ButtonFit(const QAbstractButton* b)
{
    TFit f;
    if (b->text().isEmpty()) return f;
    QStyleOptionButton o;
    o.initFrom(b);
    o.text = b->text();
    o.icon = b->icon();
    o.iconSize = b->iconSize();
    QStyle::SubElement room = QStyle::SE_PushButtonContents;
    if (qobject_cast<const QCheckBox*>(b)) room = QStyle::SE_CheckBoxContents;
    else if (qobject_cast<const QRadioButton*>(b)) room = QStyle::SE_RadioButtonContents;
    else if (!qobject_cast<const QPushButton*>(b)) return f;
    if (const auto* p = qobject_cast<const QPushButton*>(b); p && p->isDefault()) o.features |= QStyleOptionButton::DefaultButton;
    f.room = b->style()->subElementRect(room, &o, b).width();
    f.need = TextWidth(b, b->text()) + (b->icon().isNull() ? 0 : b->iconSize().width() + 4);
    f.text = b->text();
    return f;
}

void CheckGroupTitle(const QGroupBox* g, QStringList& faults)
{
    if (g->title().isEmpty()) return;
    QStyleOptionGroupBox o;
    o.initFrom(g);
    o.text = g->title();
    o.lineWidth = 1;
    o.midLineWidth = 0;
    o.textAlignment = g->alignment();
    o.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (g->isCheckable()) o.subControls |= QStyle::SC_GroupBoxCheckBox;
    if (g->isFlat()) o.features |= QStyleOptionFrame::Flat;
    const QRect label = g->style()->subControlRect(QStyle::CC_GroupBox, &o, QStyle::SC_GroupBoxLabel, g);
    const int need = TextWidth(g, g->title());
    if (label.width() < need || !g->rect().contains(label))
        faults << QString("%1: title \"%2\" needs %3 px, has %4 in %5")
                      .arg(QString::fromStdString(Path(g)), g->title())
                      .arg(need)
                      .arg(Rect(label), Rect(g->rect()));
}

void CheckComboItems(const QComboBox* c, QStringList& faults)
{
    QStyleOptionComboBox o;
    o.initFrom(c);
    o.editable = c->isEditable();
    o.frame = c->hasFrame();
    o.iconSize = c->iconSize();
    const int room = c->style()->subControlRect(QStyle::CC_ComboBox, &o, QStyle::SC_ComboBoxEditField, c).width();
    for (int i = 0; i < c->count(); ++i) {
        const int need = InkWidth(c->fontMetrics(), c->itemText(i)) +
                         (c->itemIcon(i).isNull() ? 0 : c->iconSize().width() + 4);
        if (need > room)
            faults << QString("%1: item \"%2\" needs %3 px, has %4")
                          .arg(QString::fromStdString(Path(c)), c->itemText(i))
                          .arg(need)
                          .arg(room);
    }
}

// A menu bar too narrow for its entries hides them behind an extension button.
void CheckMenuEntries(const QMenuBar* m, QStringList& faults)
{
    for (QAction* a : m->actions()) {
        const QRect r = m->actionGeometry(a);
        if (a->isVisible() && (r.isEmpty() || !m->rect().contains(r)))
            faults << QString("%1: menu \"%2\" has no room %3 in %4")
                          .arg(QString::fromStdString(Path(m)), a->text(), Rect(r), Rect(m->rect()));
    }
}

void CheckText(const QWidget* w, QStringList& faults)
{
    TFit f;
    if (const auto* l = qobject_cast<const QLabel*>(w)) f = LabelFit(l);
    else if (const auto* b = qobject_cast<const QAbstractButton*>(w)) f = ButtonFit(b);
    else if (const auto* g = qobject_cast<const QGroupBox*>(w)) CheckGroupTitle(g, faults);
    else if (const auto* c = qobject_cast<const QComboBox*>(w)) CheckComboItems(c, faults);
    else if (const auto* m = qobject_cast<const QMenuBar*>(w)) CheckMenuEntries(m, faults);
    if (f.room >= 0 && f.need > f.room)
        faults << QString("%1: \"%2\" needs %3 px, has %4")
                      .arg(QString::fromStdString(Path(w)), f.text)
                      .arg(f.need)
                      .arg(f.room);
}

std::vector<QWidget*> VisibleChildren(const QWidget* w)
{
    std::vector<QWidget*> c;
    for (QWidget* k : w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (!k->isWindow() && k->isVisible()) c.push_back(k);
    return c;
}

// Walks the visible controls below `w`.
void CheckTree(const QWidget* w, QStringList& faults)
{
    CheckText(w, faults);
    if (IsComposite(w)) return;
    const std::vector<QWidget*> children = VisibleChildren(w);
    for (size_t i = 0; i < children.size(); ++i) {
        const QWidget* a = children[i];
        if (!w->rect().contains(a->geometry()) && !OutsideAllowed(a, w->rect()))
            faults << QString("%1 %2 reaches out of its parent %3")
                          .arg(QString::fromStdString(Path(a)), Rect(a->geometry()), Rect(w->rect()));
        for (size_t j = i + 1; j < children.size(); ++j) {
            const QWidget* b = children[j];
            if (a->geometry().intersects(b->geometry()) && !OverlapAllowed(a, b))
                faults << QString("%1 %2 overlaps %3 %4")
                              .arg(QString::fromStdString(Path(a)), Rect(a->geometry()),
                                   QString::fromStdString(Name(b)), Rect(b->geometry()));
        }
        CheckTree(a, faults);
    }
}

QStringList LayoutFaults(QWidget* window)
{
    QStringList faults;
    CheckTree(window, faults);
    return faults;
}

struct Program : TProgramWindows {
    explicit Program(TMeterEngine& e) : TProgramWindows(e) { fMain.setSaveOnClose(false); }
};

// Every look: the built-in one, then the fourteen skins.
std::vector<QString> Looks()
{
    std::vector<QString> looks{QString()};
    for (int i = 0; i < kSkinEntries; ++i)
        looks.push_back(QString::fromStdString(SkinEntryPath(TARVOLIN_SOURCE_DIR "/", i)));
    return looks;
}

QString LookName(const QString& look) { return look.isEmpty() ? QString("no skin") : QFileInfo(look).fileName(); }

// The program's windows as they open with a stored skin: the main window
// loads it before the others are made, so they are made under it.
class Windows {
public:
    explicit Windows(const QString& look)
    {
        store.WriteBool("is Sound", true);
        store.WriteText(kSkinSettingName, look.toStdString());
        p = std::make_unique<Program>(engine);
        actions = std::make_unique<TfActions>(&p->fSetLevel);
        loudness = std::make_unique<TfLoudness>(&p->fMain);
        bool restored = false;
        p->fMain.OnRestored = [&] { restored = true; };
        p->fMain.show();
        for (int i = 0; i < 500 && !restored; ++i) QTest::qWait(10);
        EXPECT_TRUE(restored);
    }

    // Checks every window and dialog under the look now in force.
    void CheckAll(const QString& how)
    {
        for (int mode = 0; mode < 5; ++mode) {
            p->fmulti.setMode(mode);
            QApplication::processEvents();
            Check(&p->fMain, QString("fMain in mode %1").arg(mode), how);
        }
        const std::vector<std::pair<QWidget*, QString>> windows = {
            {&p->fSetLevel, "fSetLevel"}, {&p->fLabels, "fLabels"}, {&p->fmulti, "fmulti"},
            {&p->fSkin, "fSkin"},         {&p->FrmInfo, "FrmInfo"}, {&p->fLogFile, "fLogFile"},
            {&p->fCorre, "fCorre"},       {actions.get(), "Actions"}, {loudness.get(), "Loudness"},
        };
        for (const auto& [w, name] : windows) Check(w, name, how);
        // The correlation window with its settings open.
        auto* set = p->fCorre.findChild<QPushButton*>("Button1");
        set->click();
        Check(&p->fCorre, "fCorre with its settings", how);
        set->click();
        // The alarm sound's file dialog: its own panel, not Qt's parts.
        TMMWaveOpenDialog* open = p->SetLevelSound.MMWaveOpenDialog1();
        open->show();
        QApplication::processEvents();
        const QStringList faults = LayoutFaults(open->PreviewBox()->parentWidget());
        EXPECT_TRUE(faults.isEmpty()) << "the wave open dialog's panel " << how.toStdString() << ":\n  "
                                      << faults.join("\n  ").toStdString();
        open->hide();
    }

    TSkinData& Skin() { return *p->fMain.SkinData(); }
    const QWidget& Main() const { return p->fMain; }

private:
    static void Check(QWidget* w, const QString& what, const QString& how)
    {
        const bool shown = w->isVisible();
        if (!shown) w->show();
        QApplication::processEvents();
        const QStringList faults = LayoutFaults(w);
        EXPECT_TRUE(faults.isEmpty()) << what.toStdString() << " " << how.toStdString() << ":\n  "
                                      << faults.join("\n  ").toStdString();
        if (!shown) w->hide();
    }

    TMemoryStore store;
    TMeterEngine engine{store};
    std::unique_ptr<Program> p;
    std::unique_ptr<TfActions> actions;
    std::unique_ptr<TfLoudness> loudness;
};

// Each look as the program starts with it, then as the skin dialog switches
// the open windows from it to the next one.
TEST(Layout, EveryWindowAndDialogUnderEveryLook)
{
    const std::vector<QString> looks = Looks();
    const QString factor = qEnvironmentVariable("QT_SCALE_FACTOR");
    for (size_t i = 0; i < looks.size(); ++i) {
        Windows w(looks[i]);
        ASSERT_EQ(w.Main().devicePixelRatioF(), factor.isEmpty() ? 1.0 : factor.toDouble());
        if (!looks[i].isEmpty()) {
            ASSERT_TRUE(w.Skin().Loaded()) << looks[i].toStdString();
        }
        w.CheckAll("started under " + LookName(looks[i]));
        const QString next = looks[(i + 1) % looks.size()];
        w.Skin().setSkinFile(next);
        QApplication::processEvents();
        w.CheckAll("switched from " + LookName(looks[i]) + " to " + LookName(next));
    }
}

[[maybe_unused]] const ::testing::Environment* const kSimulatedCapture =
    ::testing::AddGlobalTestEnvironment(new TSimulatedCapture);

}  // namespace
