#include "commandtable.h"

#include "commands.h"

int runVolumeTool(const QStringList& arguments) {
    // The overview lists the commands in this order.
    static const std::vector<Command> commands = {infoCommand(),   checkCommand(), packCommand(),
                                                  unpackCommand(), meshCommand(),  synthCommand(),
                                                  samplesCommand()};
    return runCommandLine(commands, arguments);
}
