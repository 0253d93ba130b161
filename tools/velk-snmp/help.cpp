// The command table and every help text.
#include "commands.h"

namespace vs {

const char* const kGeneralHelp = R"(velk-snmp - SNMP v1/v2c manager, agent, trap receiver and MIB tools

Usage: velk-snmp COMMAND [OPTIONS] [ARGUMENTS]
       velk-snmp COMMAND --help        everything about one command
       velk-snmp --version

Requests to an agent:
  get        HOST OID...                  read variables (GetRequest)
  getnext    HOST OID...                  read the variables that follow OIDs (GetNextRequest)
  getbulk    HOST OID...                  read many following variables at once (GetBulkRequest, v2c)
  walk       HOST [OID]                   read a whole subtree
  set        HOST OID TYPE VALUE...       write variables (SetRequest)
  table      HOST TABLE                   read a MIB table and print it as columns

Notifications:
  trap       HOST ...                     send a v1 or v2c trap
  inform     HOST UPTIME OID ...          send an inform and wait for its acknowledgement
  listen                                  receive traps and informs and print them

Agent:
  agent                                   serve this machine's system group and interfaces

MIB tools:
  compile    MODULE|FILE...               compile MIB modules and list their objects
  translate  NAME|OID...                  translate names to OIDs and back
  mib-image  FILE                         write a MIB image file for fast start-up
  decode     HEX... | -f FILE             decode an SNMP message and print every field

Options of the requests and notifications:
  -v 1|2c          SNMP version (default 2c)
  -c COMMUNITY     community (default public)
  -t SECONDS       time to wait for an answer, per try (default 1; fractions allowed)
  -r RETRIES       tries after the first one when no answer comes (default 1); every try
                   sends the same request id, so a late answer to an earlier try counts;
                   the longest wait is -t times (-r + 1) seconds
  HOST             HOST[:PORT], [IPv6-ADDRESS]:PORT, optionally with a udp: or udp6:
                   prefix (port 161 for requests, 162 for notifications)

MIB options:
  -M DIRS          folders of MIB module files, separated by ':'; a leading '+' adds them
                   to the defaults: $VELK_MIBDIRS, else ~/.snmp/mibs:/usr/share/snmp/mibs:
                   /var/lib/mibs/ietf:/var/lib/mibs/iana
  -m MODULES       modules to load, separated by ':'; every module they import is loaded
                   too; ALL loads every module of the folders; a leading '+' adds to the
                   defaults: $VELK_MIBS, else SNMPv2-MIB:IF-MIB:IP-MIB:TCP-MIB:UDP-MIB:
                   HOST-RESOURCES-MIB (those that are found)
  --image FILE     load a MIB image written by mib-image instead of modules

Output options:
  -On              numeric OIDs: each line starts with the OID
  -Os              names without their module (sysDescr.0)
  -Ov              values only
  -Oq              no "=" and no type names
  -Oe              enumerations as numbers (2, not down(2))
  --json           JSON for scripts

Exit status: 0 success; 1 no answer, an error status from the agent, or a MIB or file
that cannot be read; 2 a usage error (unknown option, bad argument, unknown name).
)";

namespace {

const char* const kGetHelp = R"(Usage: velk-snmp get [OPTIONS] HOST OID...

Reads the variables with a GetRequest and prints one line per variable:
  SNMPv2-MIB::sysDescr.0 = STRING: "Linux gateway 6.1.0"

OID is a name (sysDescr.0, SNMPv2-MIB::sysDescr.0, ifDescr.2) or a numeric OID
(1.3.6.1.2.1.1.1.0 or .1.3.6.1.2.1.1.1.0). In version 2c a variable the agent does not
have is printed as "No Such Object ..." or "No Such Instance ..."; in version 1 the agent
answers noSuchName and the command fails naming the variable.

Options:
  -v 1|2c, -c COMMUNITY, -t SECONDS, -r RETRIES   (see velk-snmp --help)
  -M DIRS, -m MODULES, --image FILE                MIB modules for names
  -On, -Os, -Ov, -Oq, -Oe, --json                  output
  -h, --help                                       this text

Example:
  velk-snmp get -c public localhost sysDescr.0 sysUpTime.0
)";

const char* const kGetNextHelp = R"(Usage: velk-snmp getnext [OPTIONS] HOST OID...

Reads, for each OID, the variable that follows it in the agent's MIB (GetNextRequest)
and prints one line per variable.

Options:
  -v 1|2c, -c COMMUNITY, -t SECONDS, -r RETRIES   (see velk-snmp --help)
  -M DIRS, -m MODULES, --image FILE                MIB modules for names
  -On, -Os, -Ov, -Oq, -Oe, --json                  output
  -h, --help                                       this text

Example:
  velk-snmp getnext localhost system
)";

const char* const kGetBulkHelp = R"(Usage: velk-snmp getbulk [OPTIONS] HOST OID...

Sends one GetBulkRequest (version 2c only): the first N OIDs (the non-repeaters) get the
one variable that follows each; the others get up to M following variables each.

Options:
  -Cn N, --non-repeaters N     non-repeaters (default 0)
  -Cr M, --max-repetitions M   max-repetitions (default 10)
  -c COMMUNITY, -t SECONDS, -r RETRIES            (see velk-snmp --help)
  -M DIRS, -m MODULES, --image FILE                MIB modules for names
  -On, -Os, -Ov, -Oq, -Oe, --json                  output
  -h, --help                                       this text

Example:
  velk-snmp getbulk -Cn1 -Cr5 localhost sysUpTime ifDescr ifOperStatus
)";

const char* const kWalkHelp = R"(Usage: velk-snmp walk [OPTIONS] HOST [OID]

Reads every variable below OID (default: mib-2, .1.3.6.1.2.1) and prints one line each.
Version 2c walks with GetBulkRequests, version 1 (or --next) with GetNextRequests. The
walk ends at the end of the subtree or of the agent's MIB. When the agent answers tooBig,
max-repetitions is halved; short and empty GetBulk answers are tolerated. When nothing
lies below OID, OID itself is read, so a walk of an instance prints it.

An agent that returns an OID that does not increase would make a walk loop: the walk then
stops with an error, unless -Cc is given; -Cc goes on and stops after --limit variables
(default 10000 with -Cc).

Options:
  --next                       walk with GetNext also in version 2c
  -Cr M, --max-repetitions M   max-repetitions of each GetBulk (default 10)
  -Cc                          do not stop when an OID does not increase
  --limit N                    stop after N variables
  --count                      print the number of variables to standard error
  -v 1|2c, -c COMMUNITY, -t SECONDS, -r RETRIES   (see velk-snmp --help)
  -M DIRS, -m MODULES, --image FILE                MIB modules for names
  -On, -Os, -Ov, -Oq, -Oe, --json                  output
  -h, --help                                       this text

Examples:
  velk-snmp walk localhost system
  velk-snmp walk -v1 -On 192.0.2.7 .1.3.6.1.2.1.2
)";

const char* const kSetHelp = R"(Usage: velk-snmp set [OPTIONS] HOST OID TYPE VALUE [OID TYPE VALUE]...

Writes variables with one SetRequest and prints the agent's answer. Every value is checked
before anything is sent. TYPE is one letter:
  i  INTEGER (a number, or a label of the object's enumeration such as up)
  u  Unsigned32 / Gauge32        c  Counter32        C  Counter64
  t  TimeTicks (hundredths of a second)
  a  IpAddress (dotted IPv4)     o  OBJECT IDENTIFIER (name or numeric)
  s  OCTET STRING from text      x  OCTET STRING from hex (0a1b2c, 0a:1b:2c, "0a 1b")
  d  OCTET STRING from decimal bytes (10.27.44)
  b  BITS (bit numbers or names, separated by commas or blanks)
  n  NULL (VALUE is ignored)
  =  the type the MIB gives the object
An error status from the agent (notWritable, wrongType...) fails the command naming the
variable.

Options:
  -v 1|2c, -c COMMUNITY, -t SECONDS, -r RETRIES   (see velk-snmp --help)
  -M DIRS, -m MODULES, --image FILE                MIB modules for names and '='
  -On, -Os, -Ov, -Oq, -Oe, --json                  output
  -h, --help                                       this text

Example:
  velk-snmp set -c private localhost sysContact.0 s "ops@example.org" sysLocation.0 = "rack 4"
)";

const char* const kTableHelp = R"(Usage: velk-snmp table [OPTIONS] HOST TABLE

Reads a MIB table (walking its entry) and prints it as aligned columns: the row index
first, then one column per column object, named from the MIB. TABLE is the table
(ifTable) or its entry (ifEntry). A cell the agent does not have stays empty.

Options:
  --columns A,B,...     only these columns (names or OIDs), in OID order
  --next, -Cr M, --max-repetitions M, --limit N    as for walk
  -v 1|2c, -c COMMUNITY, -t SECONDS, -r RETRIES   (see velk-snmp --help)
  -M DIRS, -m MODULES, --image FILE                MIB modules for names
  -On, -Os, --json                                 output (-On: numbered columns; --json:
                                                   one object per row)
  -h, --help                                       this text

Examples:
  velk-snmp table localhost IF-MIB::ifTable
  velk-snmp table localhost ifTable --columns ifDescr,ifOperStatus,ifInOctets,ifOutOctets
)";

const char* const kTrapHelp = R"(Usage: velk-snmp trap [OPTIONS] HOST UPTIME TRAP-OID [OID TYPE VALUE]...
       velk-snmp trap -v 1 [OPTIONS] HOST ENTERPRISE AGENT-ADDRESS GENERIC SPECIFIC UPTIME
                                   [OID TYPE VALUE]...

Sends a trap to HOST (port 162 unless given) and returns at once.

Version 2c (the default): the trap carries sysUpTime.0 = UPTIME, snmpTrapOID.0 = TRAP-OID
and then the variables given.
Version 1: ENTERPRISE is the enterprise OID (empty: .1.3.6.1.4.1), AGENT-ADDRESS the IPv4
address of the sender (empty: this machine's), GENERIC the generic trap number or name
(coldStart warmStart linkDown linkUp authenticationFailure egpNeighborLoss
enterpriseSpecific), SPECIFIC the specific trap number.
UPTIME is in hundredths of a second; an empty UPTIME ("") sends this machine's uptime.
TYPE and VALUE are those of velk-snmp set.

Options:
  -v 1|2c, -c COMMUNITY                 (see velk-snmp --help)
  -M DIRS, -m MODULES, --image FILE     MIB modules for names
  -h, --help                            this text

Examples:
  velk-snmp trap localhost:1162 "" IF-MIB::linkDown ifIndex.2 i 2 ifOperStatus.2 i down
  velk-snmp trap -v 1 localhost:1162 "" "" linkUp 0 "" ifIndex.2 i 2
)";

const char* const kInformHelp = R"(Usage: velk-snmp inform [OPTIONS] HOST UPTIME TRAP-OID [OID TYPE VALUE]...

Sends an InformRequest (version 2c) with sysUpTime.0 = UPTIME, snmpTrapOID.0 = TRAP-OID
and the variables given, and waits for the receiver's acknowledgement (-t per try, -r
further tries, each with the same request id). Fails with "no answer from HOST:PORT after N
tries" when none comes. UPTIME "" sends this machine's uptime.

Options:
  -c COMMUNITY, -t SECONDS, -r RETRIES  (see velk-snmp --help)
  -M DIRS, -m MODULES, --image FILE     MIB modules for names
  -h, --help                            this text

Example:
  velk-snmp inform -t 2 localhost:1162 "" SNMPv2-MIB::coldStart
)";

const char* const kListenHelp = R"(Usage: velk-snmp listen [OPTIONS]

Receives traps (v1 and v2c) and informs and prints each one: time, version, kind, sender
and community, the notification's name, then its variables with names from the MIB.
Every inform is acknowledged at once. Runs until interrupted (Ctrl-C, SIGTERM), or until
--count notifications arrived or --timeout passed.

Options:
  --address ADDR      local address to listen on (default 0.0.0.0, every address)
  --port PORT         local port (default 162, which needs root)
  -c COMMUNITY        accept only this community (default: any; others are reported on
                      standard error and dropped)
  --count N           stop after N notifications
  --timeout SECONDS   stop after SECONDS; with --count, fewer notifications than N then
                      fail the command (exit status 1)
  -M DIRS, -m MODULES, --image FILE     MIB modules for names
  -On, -Os, --json    output (--json: one JSON object per line and notification)
  -h, --help          this text

Example:
  velk-snmp listen --port 1162
)";

const char* const kAgentHelp = R"(Usage: velk-snmp agent [OPTIONS]

Runs an SNMP v1/v2c agent until interrupted (Ctrl-C, SIGTERM). It serves live values:
  the system group      sysDescr, sysObjectID, sysUpTime, sysContact, sysName,
                        sysLocation, sysServices (SNMPv2-MIB)
  the interfaces        ifNumber, ifTable and the main columns of ifXTable, read from
                        this machine's interfaces (IF-MIB)
  demonstration objects the project's VELK-DEMO-MIB: version, requests answered, load,
                        memory, processes, clock and a writable message
Get and Set are answered by the library's Agent control from its MIB (read-write objects
can be set: sysContact, sysName, sysLocation, velkMessage...); GetNext and GetBulk are
answered by the tool. Requests with another community get no answer (Get and Set send an
authenticationFailure trap). Opening sends a coldStart trap to every trap destination.
Types and access come from the MIB modules loaded with -m, so load SNMPv2-MIB and IF-MIB
(the defaults) and VELK-DEMO-MIB (in the project's tools/mibs folder).

Options:
  --address ADDR        local address (default 0.0.0.0)
  --port PORT           local port (default 161, which needs root)
  -c COMMUNITY          community (default public)
  --trap-dest HOST[:PORT]  send traps there (port 162 unless given); may be repeated
  --value OID=VALUE     serve VALUE at OID (an instance such as sysContact.0), with the
                        object's type from the MIB; may be repeated
  --values FILE         values from a file, one per line: OID TYPE VALUE, TYPE as in
                        velk-snmp set ('=' for the MIB's type); '#' starts a comment
  --heartbeat SECONDS   send the velkHeartbeat notification every SECONDS
  -M DIRS, -m MODULES, --image FILE     MIB modules
  -h, --help            this text

Example:
  velk-snmp agent --port 1161 -M +tools/mibs -m +VELK-DEMO-MIB \
      --trap-dest 127.0.0.1:1162 --value sysLocation.0="server room"
)";

const char* const kCompileHelp = R"(Usage: velk-snmp compile [OPTIONS] MODULE|FILE...
       velk-snmp compile [OPTIONS] -m MODULES

Compiles MIB modules with every module they import and lists the objects and
notifications of the modules named: name, OID, type, access, status and syntax, in OID
order.
A MODULE is found in the MIB folders by the name at the top of its file; a FILE is a path.
A module that does not compile fails the command with the compiler's message, file and
line (exit status 1). The counts go to standard error.

Options:
  --all                 list the imported modules' objects too
  -M DIRS               MIB folders (see velk-snmp --help)
  -On, -Os, --json      output
  -h, --help            this text

Example:
  velk-snmp compile IF-MIB
)";

const char* const kTranslateHelp = R"(Usage: velk-snmp translate [OPTIONS] NAME|OID...

Translates names to numeric OIDs and numeric OIDs to names:
  velk-snmp translate sysDescr.0           ->  .1.3.6.1.2.1.1.1.0
  velk-snmp translate .1.3.6.1.2.1.2.2.1.2.3  ->  IF-MIB::ifDescr.3

Options:
  --details             also print the definition: syntax, type, access, status, index
                        and description (objects) or the objects of a notification
  -M DIRS, -m MODULES, --image FILE     MIB modules
  -On                   always print numeric OIDs
  -Os                   names without their module
  --json                JSON
  -h, --help            this text
)";

const char* const kMibImageHelp = R"(Usage: velk-snmp mib-image [OPTIONS] FILE

Compiles the MIB modules (-M, -m) and writes their objects and notifications to FILE, a MIB
image that --image loads much faster than the modules compile. FILE's name must contain
".bin". Beside it, FILE.names keeps every name with its module and OID (an image holds only
objects and notifications), so names print the same with --image.

Options:
  -M DIRS, -m MODULES   MIB modules (see velk-snmp --help)
  -h, --help            this text

Example:
  velk-snmp mib-image -m ALL ~/.snmp/all.bin && velk-snmp translate --image ~/.snmp/all.bin sysDescr
)";

const char* const kDecodeHelp = R"(Usage: velk-snmp decode [OPTIONS] HEX...
       velk-snmp decode [OPTIONS] -f FILE

Decodes one SNMP v1/v2c message and prints every field: version, community, PDU type,
request id, error status and index (or non-repeaters and max-repetitions, or the v1 trap's
enterprise, agent address, generic and specific trap and time stamp), then the variables
with names from the MIB. HEX is the message as hex digits, optionally separated by blanks
or colons; FILE holds the message's bytes or their hex text (- reads standard input). A
message that does not decode fails the command (exit status 1).

Options:
  -f FILE, --file FILE  read the message from FILE
  -M DIRS, -m MODULES, --image FILE     MIB modules for names
  -On, -Os, --json      output
  -h, --help            this text

Example:
  velk-snmp decode 30 26 02 01 01 04 06 70 75 62 6c 69 63 a0 19 02 01 01 02 01 00 02 01 00 \
      30 0e 30 0c 06 08 2b 06 01 02 01 01 01 00 05 00
)";

const std::vector<OptionSpec> kBulkOptions = {
    {'C', nullptr, true, "C"},
    {0, "max-repetitions", true, "max-repetitions"},
    {0, "non-repeaters", true, "non-repeaters"},
};
const std::vector<OptionSpec> kWalkOptions = {
    {0, "next", false, "next"},
    {0, "limit", true, "limit"},
    {0, "count", false, "count"},
};

}  // namespace

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"get", "read variables", Join({kHelpOptions, kTargetOptions, kMibOptions, kOutputOptions}), CmdGet, kGetHelp},
        {"getnext", "read following variables", Join({kHelpOptions, kTargetOptions, kMibOptions, kOutputOptions}),
         CmdGetNext, kGetNextHelp},
        {"getbulk", "read many following variables",
         Join({kHelpOptions, kTargetOptions, kMibOptions, kOutputOptions, kBulkOptions}), CmdGetBulk, kGetBulkHelp},
        {"walk", "read a subtree",
         Join({kHelpOptions, kTargetOptions, kMibOptions, kOutputOptions, kBulkOptions, kWalkOptions}), CmdWalk,
         kWalkHelp},
        {"set", "write variables", Join({kHelpOptions, kTargetOptions, kMibOptions, kOutputOptions}), CmdSet, kSetHelp},
        {"table", "print a table",
         Join({kHelpOptions, kTargetOptions, kMibOptions, kOutputOptions, kBulkOptions, kWalkOptions,
               {{0, "columns", true, "columns"}}}),
         CmdTable,
         kTableHelp},
        {"trap", "send a trap", Join({kHelpOptions, kTargetOptions, kMibOptions}), CmdTrap, kTrapHelp},
        {"inform", "send an inform", Join({kHelpOptions, kTargetOptions, kMibOptions}), CmdInform, kInformHelp},
        {"listen", "receive notifications",
         Join({kHelpOptions, kMibOptions, kOutputOptions,
               {{0, "address", true, "address"},
                {0, "port", true, "port"},
                {'c', "community", true, "community"},
                {0, "count", true, "count"},
                {0, "timeout", true, "timeout"}}}),
         CmdListen, kListenHelp},
        {"agent", "run an agent",
         Join({kHelpOptions, kMibOptions,
               {{0, "address", true, "address"},
                {0, "port", true, "port"},
                {'c', "community", true, "community"},
                {0, "trap-dest", true, "trap-dest"},
                {0, "value", true, "value"},
                {0, "values", true, "values"},
                {0, "heartbeat", true, "heartbeat"}}}),
         CmdAgent, kAgentHelp},
        {"compile", "compile MIB modules",
         Join({kHelpOptions, kMibOptions, kOutputOptions, {{0, "all", false, "all"}}}), CmdCompile, kCompileHelp},
        {"translate", "translate names and OIDs",
         Join({kHelpOptions, kMibOptions, kOutputOptions, {{0, "details", false, "details"}}}), CmdTranslate,
         kTranslateHelp},
        {"mib-image", "write a MIB image", Join({kHelpOptions, kMibOptions}), CmdMibImage, kMibImageHelp},
        {"decode", "decode a message",
         Join({kHelpOptions, kMibOptions, kOutputOptions, {{'f', "file", true, "file"}}}), CmdDecode, kDecodeHelp},
    };
    return commands;
}

}  // namespace vs
