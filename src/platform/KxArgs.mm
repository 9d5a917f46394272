#include "KxArgs.h"

int KxArgc;
char **KxArgv;
