// What a run's notification and exit status say of its outcome.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>

#include "app/unattended.h"

namespace tarnwick::app {
namespace {

TEST(RunNotice, SaysWhatHappenedAndWhere) {
    const FilesLeftBehind left{"E:\\Backup", 2, "read-only file system"};
    struct Case {
        const char* what;
        UnattendedRun run;
        bool errorLine;
        int status;
        std::string summary;
        std::string body;
    };
    const std::string copied = "\"E:\\Photos\": 3 files copied.";
    const std::string error = "Error 09.12.2026 10:00:00 The folder \"F:\\Gone\" was not found.";
    const Case cases[] = {
        {"complete",
         {{3, false, false, {}}, 0, false},
         false,
         0,
         "Total files copied : 3.",
         copied},
        {"files left behind",
         {{3, false, false, {left}}, 0, false},
         false,
         1,
         "Files could not be copied",
         copied + "\n\"E:\\Backup\": 2 files could not be copied (read-only file system).\n" +
             "Total files copied : 3."},
        {"error line",
         {{3, true, false, {}}, 0, false},
         true,
         1,
         "Error during synchronization",
         copied + "\n" + error + "\nTotal files copied : 3."},
        {"SIGTERM",
         {{3, false, true, {}}, SIGTERM, false},
         false,
         143,
         "Synchronization cancelled",
         copied + "\nTotal files copied : 3."},
        {"SIGINT, stranded",
         {{3, false, true, {}}, SIGINT, true},
         false,
         130,
         "Synchronization cancelled",
         copied + "\nTotal files copied : 3."},
        // A signal that only let the run end (the watch's first) does not make it cancelled.
        {"signal, run ended",
         {{3, false, false, {}}, SIGTERM, false},
         false,
         0,
         "Total files copied : 3.",
         copied},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::FILE* out = std::tmpfile();
        ASSERT_NE(out, nullptr);
        StreamRunSink sink(out);
        sink.PassEnded("C:\\Photos", "E:\\Photos", 3);
        sink.PassEnded("C:\\Photos", "F:\\Gone", -2);
        if (c.errorLine) {
            sink.ErrorRaised();
            sink.Line(error);
        }
        sink.Ending(3);
        std::fclose(out);
        EXPECT_EQ(ExitStatus(c.run), c.status);
        EXPECT_EQ(sink.Summary(c.run.Outcome), c.summary);
        EXPECT_EQ(sink.Body(c.run.Outcome), c.body);
    }
}

}  // namespace
}  // namespace tarnwick::app
