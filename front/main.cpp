// kvdbmgr — the Korvel database manager.
#include "front/front.h"

int main(int argc, char *argv[])
{
   return KvdbmgrMain(argc, argv);
}
