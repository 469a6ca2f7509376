// `TSkinData` (`SkinData1` of the main window): the skinning engine. Reads a
// skin file (labels_skins/SkinFile.h) and restyles the whole application
// through its palette and one style sheet. Controls whose `tag` property is
// 99, and everything on them, keep the look the program gives them. A skin
// file that is missing, unreadable or malformed leaves the built-in look and
// is reported through OnFault. One engine per application; GUI thread only.
#pragma once

#include "labels_skins/SkinFile.h"

#include <QObject>
#include <QPalette>
#include <QString>

#include <functional>

class QWidget;

class TSkinData : public QObject {
    Q_OBJECT
public:
    static constexpr int ExcludedTag = 99;
    // Dynamic property the engine sets on every control it may skin; the
    // style sheet's rules match only controls carrying it.
    static constexpr const char* MarkProperty = "skinned";

    explicit TSkinData(QObject* parent = nullptr);
    ~TSkinData() override;  // restores the built-in look

    // Loads the file (full path) and restyles every window at once.
    // Never throws; a file that cannot be used gives the built-in look.
    void setSkinFile(const QString& path);
    QString SkinFile() const { return mSkinFile; }

    // A skin file could not be used: "skin PATH: line N: what" (also
    // LastError() until the next file loads).
    std::function<void(const QString& message)> OnFault;

    // Diagnostics, not part of the program's requests.
    bool Loaded() const { return mLoaded; }
    QString SkinName() const { return mLoaded ? QString::fromStdString(mModel.name) : QString(); }
    QString LastError() const { return mError; }
    QString LastFault() const { return mFault; }  // the error without the path: "line N: what"
    QString StyleSheet() const { return mSheet; }

    // True when the widget or one of its ancestors has tag 99.
    static bool IsExcluded(const QWidget* w);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void prepare(QWidget* w);
    void freeze(QWidget* w);
    void apply();

    QString mSkinFile;
    bool mLoaded = false;
    QString mError;
    QString mFault;
    TSkinModel mModel;
    QString mSheet;
    QPalette mBuiltIn;
    QString mBuiltInSheet;
};
