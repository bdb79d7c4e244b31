#pragma once

#include <QList>
#include <QString>

class QSettings;

namespace desktop {

// Points every default-constructed QSettings at the application's store: organisation and
// application both "Wobblestar", an INI file under the user's configuration folder
// ($XDG_CONFIG_HOME/Wobblestar/Wobblestar.conf). WOBBLESTAR_CONFIG_DIR, when set, takes the
// place of the configuration folder (portable use, tests). Call once, after the application
// object exists and before the first QSettings.
void setUpSettingsStore();

// The store's file as setUpSettingsStore() arranged it.
QString settingsStorePath();

// What a stored value must look like.
struct ExpectedKey {
    enum class Kind { Integer, Flag, Text };
    QString key;
    Kind kind;
};

// Writes what `store` holds to its file. On failure returns false and sets `*error` to the
// system's reason ("No space left on device"); QSettings says only that it failed, so the
// reason is found by writing a file of the store's size beside it.
bool syncSettings(QSettings& store, QString* error);

// The outcome of checkSettingsStore().
struct StoreCheck {
    bool damaged = false;
    // One message for the user when damaged.
    QString message;
    // Where the damaged file now lives.
    QString keptAs;
};

// Checks the store before anything reads or writes it. A file that does not parse restores as
// empty; a value of the wrong type (a word where a number belongs) restores as absent while the
// sound values stay. Either way the damaged file is first renamed with ".bad", beside the new
// one, so nothing the user had is lost.
StoreCheck checkSettingsStore(const QList<ExpectedKey>& expected);

} // namespace desktop
