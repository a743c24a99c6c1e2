// The application log's categories, all under "com.tarsel.kavlo". Info and
// above are on; debug lines are off unless QT_LOGGING_RULES turns them on
// ("com.tarsel.kavlo.*.debug=true"). Lines may name the user's files: the
// log stays on the machine (app/app_log.h writes it to stderr and a file).
// Analytics never takes anything from here.
//
// Any thread may log. Header only: each category is one function-local
// object, made on first use.
#pragma once

#include <QLoggingCategory>

namespace kavlo {

#define KAVLO_LOG_CATEGORY(function, name)                                                         \
    inline const QLoggingCategory& function() {                                                    \
        static const QLoggingCategory category(name, QtInfoMsg);                                   \
        return category;                                                                           \
    }

// Loading a video: what was opened, what it is, why it failed.
KAVLO_LOG_CATEGORY(lcLoad, "com.tarsel.kavlo.load")
// Runs of the external converter: the whole command line and how it ended.
KAVLO_LOG_CATEGORY(lcConvert, "com.tarsel.kavlo.convert")
// Previews and exports: settings, sizes and times.
KAVLO_LOG_CATEGORY(lcRender, "com.tarsel.kavlo.render")
// Failures of the two players.
KAVLO_LOG_CATEGORY(lcPlayback, "com.tarsel.kavlo.playback")
// The update check.
KAVLO_LOG_CATEGORY(lcUpdate, "com.tarsel.kavlo.update")

#undef KAVLO_LOG_CATEGORY

} // namespace kavlo
