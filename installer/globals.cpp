// globals.cpp - the installer's process-wide state, one definition each (see setup.h).
// Every text is a saved string made once by main or a step it runs, kept until exit.
#include "installer/setup.h"

char* pPathToSetup = nullptr;
char* pKorviInstallDir = nullptr;
int flCreatedTmpDir = 0;
char* pCmdLineInstallDir = nullptr;
char* pCurrentInstallDir = nullptr;
char* pTargetInstallDir = nullptr;
char* pAppDir = nullptr;
char* pKorviPkgName = nullptr;
const char* pBinaryInstanceCheckList = ",kpadmin,kpqadmin,kavlon,kprkvlntty,KPQ,KPRM,ksf,driver,";
int flInstallFailed = 0;
