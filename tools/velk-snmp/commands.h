// The commands of velk-snmp. Each takes its parsed arguments and returns the exit status,
// or throws Failure.
#pragma once

#include <string>
#include <vector>

#include "args.h"
#include "format.h"
#include "mibs.h"
#include "session.h"

namespace vs {

struct Command {
    const char* name;
    const char* summary;
    std::vector<OptionSpec> options;
    int (*run)(const Args&);
    const char* help;
};

const std::vector<Command>& Commands();
extern const char* const kGeneralHelp;

int CmdGet(const Args&);
int CmdGetNext(const Args&);
int CmdGetBulk(const Args&);
int CmdWalk(const Args&);
int CmdSet(const Args&);
int CmdTable(const Args&);
int CmdTrap(const Args&);
int CmdInform(const Args&);
int CmdListen(const Args&);
int CmdAgent(const Args&);
int CmdCompile(const Args&);
int CmdTranslate(const Args&);
int CmdMibImage(const Args&);
int CmdDecode(const Args&);

// Sets a variable's type and value from a net-snmp type letter (i u c C t a o s x d n b,
// or '=' for the type of the MIB object) and value text. Throws a usage Failure for a value
// that does not fit the type.
void SetTypedValue(ISnmpVariable* v, const std::string& typeLetter, const std::string& value, const MibSet& mib,
                   const std::string& oid);

// Reads OID TYPE VALUE triples from `args` starting at `first`.
struct Binding {
    std::string oid, type, value;
};
std::vector<Binding> ReadBindings(const std::vector<std::string>& args, size_t first, const MibSet& mib);

// Labels of an enumeration syntax "INTEGER {up(1),down(2)}": label -> number.
std::vector<std::pair<std::string, long>> EnumLabels(const std::string& syntax);

// Stop flag for commands that run until a signal (listen, agent).
void InstallStopSignals();
bool StopRequested();

// Prints text to standard output.
void Out(const std::string& text);

}  // namespace vs
