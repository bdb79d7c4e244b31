#pragma once

#include <QString>
#include <QStringView>
#include <array>
#include <optional>

namespace screens {

// The window's five screens, as the command line, the navigator and the delegate name them.
enum class ScreenId { Graph, Settings, Info, Recording, Meters };

struct ScreenName {
    ScreenId id;
    const char16_t* name; // as typed after --screen
};

inline constexpr std::array<ScreenName, 5> kScreenNames = {{
    {ScreenId::Graph, u"graph"},
    {ScreenId::Settings, u"settings"},
    {ScreenId::Info, u"info"},
    {ScreenId::Recording, u"recording"},
    {ScreenId::Meters, u"meters"},
}};

// The screen called `name`; nullopt for a name no screen has.
inline std::optional<ScreenId> screenNamed(QStringView name) {
    for (const ScreenName& screen : kScreenNames) {
        if (name == QStringView(screen.name))
            return screen.id;
    }
    return std::nullopt;
}

inline QString nameOfScreen(ScreenId id) {
    for (const ScreenName& screen : kScreenNames) {
        if (screen.id == id)
            return QString::fromUtf16(screen.name);
    }
    return {};
}

// "graph, settings, info, recording or meters"
inline QString screenNameList() {
    QString list;
    for (std::size_t i = 0; i < kScreenNames.size(); ++i) {
        if (i > 0)
            list += i + 1 == kScreenNames.size() ? QStringLiteral(" or ") : QStringLiteral(", ");
        list += QString::fromUtf16(kScreenNames[i].name);
    }
    return list;
}

} // namespace screens
