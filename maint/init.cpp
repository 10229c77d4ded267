// Database initialisation.
#include "maint/init.h"

#include <stdio.h>

#include <string>

#include "db/statements.h"
#include "lib/korvel/korvel.h"
#include "maint/batch.h"

namespace {

std::string NewGuid()
{
   uuid_t guid;
   char text[64];
   uuid_generate(guid);
   return uuid_to_string(guid, text);
}

}  // namespace

bool RunInitCommand(const char *path)
{
   printf("Initializing database...\n");
   // A schema file with nothing to run creates nothing: that is a failure here.
   bool ok = RunBatch(path) == BATCH_DONE &&
             ExecStatement(("UPDATE users SET guid='" + NewGuid() + "' WHERE id=0").c_str()) &&
             ExecStatement(("UPDATE user_groups SET guid='" + NewGuid() + "' WHERE id=" +
                            std::to_string((int32_t)0x80000000)).c_str());
   printf(ok ? "Database initialized successfully\n" : "Database initialization failed\n");
   return ok;
}
