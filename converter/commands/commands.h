#pragma once

// The converter's commands, one file each; commandtable.cpp puts them in the table.

#include "commandline.h"

Command infoCommand();    // infocommand.cpp
Command checkCommand();   // infocommand.cpp
Command packCommand();    // packcommand.cpp
Command unpackCommand();  // unpackcommand.cpp
Command meshCommand();    // meshcommand.cpp
Command samplesCommand(); // samplescommand.cpp
Command synthCommand();   // synthcommand.cpp
