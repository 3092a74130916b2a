#include "support/TemporaryFolder.h"
#include "workspace/StateDatabase.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kestro;
using kestro::testing::TemporaryFolder;

TEST(StateDatabaseTest, ABusyDatabaseIsAskedAgain) {
    TemporaryFolder folder;
    const std::string counter = folder.path() + "/attempts";
    // Busy twice, then rows: the arguments are echoed to show they arrive unchanged.
    const std::string script = folder.write("sqlite3", "#!/bin/sh\necho x >> " + counter +
                                                           "\nif [ $(wc -l < " + counter + ") -lt 3 ]; then echo "
                                                           "'Error: in prepare, database is locked (5)' >&2; exit 1; fi\n"
                                                           "printf '%s|' \"$@\"\n");
    ::chmod(script.c_str(), 0755);
    SystemTools tools;
    tools.sqlite3 = script;
    EXPECT_EQ(queryStateDatabase("/db", "SELECT 1;", tools), "-separator|\t|/db|SELECT 1;|");

    const std::string failing = folder.write("broken", "#!/bin/sh\necho 'Error: no such table: threads' >&2\nexit 1\n");
    ::chmod(failing.c_str(), 0755);
    tools.sqlite3 = failing;
    EXPECT_EQ(queryStateDatabase("/db", "SELECT 1;", tools), "Error: no such table: threads\n");
}
