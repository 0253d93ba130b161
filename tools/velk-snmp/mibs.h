// MIB modules for the tool: finding module files in the MIB folders (with every module they
// import), compiling them into an SnmpMib or loading a MIB image, and translating between
// names such as SNMPv2-MIB::sysDescr.0 and numeric OIDs.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common.h"
#include "smi_scan.h"

namespace vs {

struct MibOptions {
    std::string dirs;     // -M (empty: the default folders)
    std::string modules;  // -m (empty: the default modules)
    std::string image;    // --image
    bool modulesGiven = false;
    bool dirsGiven = false;
    // Compile every module in one call even when some may fail (slower when one does):
    // the store then holds its objects in the order of a single call, as an image should.
    bool oneCall = false;
};

// The MIB folders that -M DIRS (or the defaults) name, in search order.
std::vector<std::string> MibDirs(const MibOptions& options);
std::string DefaultMibDirsText();
extern const char* const kDefaultModules;

// Finds the file of a module by reading the module names at the top of the files.
class ModuleFinder {
public:
    explicit ModuleFinder(std::vector<std::string> dirs) : dirs_(std::move(dirs)) {}
    // The file that defines `module`, or "".
    std::string Find(const std::string& module);
    // Every module of every folder (the first folder wins for a name), by name.
    const std::map<std::string, std::string>& All();
    const std::vector<std::string>& Dirs() const { return dirs_; }
    std::string DirsText() const;
    // What the header of a file tells, read once: the name of its first module and every
    // module it defines with its imports (ScanModuleHeaders). Null when it cannot be read.
    struct FileInfo {
        std::string firstModule;
        std::vector<SmiModule> modules;
        bool trapTypes = false;  // it defines TRAP-TYPEs (InvokesTrapType)
    };
    const FileInfo* File(const std::string& path);

private:
    void IndexAll();
    std::vector<std::string> dirs_;
    std::map<std::string, std::string> index_;
    std::unordered_map<std::string, std::string> found_;  // Find's answers before IndexAll
    std::unordered_map<std::string, std::optional<FileInfo>> files_;
    std::string buffer_;  // file text, reused from file to file
    bool indexed_ = false;
};

// Reads a whole file; false when it cannot be read.
bool ReadFile(const std::string& path, std::string* out, size_t limit = 64u << 20);

// Base type of a syntax, as VariableTypeConstants; -1 when unknown.
int BaseTypeOfName(const std::string& base);

// A decoded view of an OID through the MIB.
struct OidName {
    std::string module;  // may be empty
    std::string name;    // empty when no prefix has a name
    std::string base;    // the named prefix
    std::string suffix;  // the rest, with its leading dot (".0", ".1.2"), or ""
};

class MibSet {
public:
    MibSet();

    // Loads what the options name. `required`: a module that cannot be found or compiled
    // is an error; otherwise (the defaults) the tool goes on with what it has and warns.
    void Load(const MibOptions& options);
    // Compiles the modules and files given by name or path (the compile command).
    // Returns the names of the modules of those files.
    std::vector<std::string> LoadNamed(const MibOptions& options, const std::vector<std::string>& names);

    ISnmpMib* Mib() const { return mib_.Get(); }
    bool Empty() const { return loadedModules_.empty() && !imageLoaded_; }
    const std::vector<SmiModule>& Modules() const {
        LoadDetails();
        return modules_;
    }

    // Numeric OID of a name ("SNMPv2-MIB::sysDescr.0", "sysDescr.0", "ifDescr.3",
    // ".1.3.6.1", "iso.3.6.1"); throws a usage Failure for a name the MIB does not know.
    std::string Resolve(const std::string& input) const;
    std::optional<std::string> TryResolve(const std::string& input, std::string* error = nullptr) const;

    // The longest named prefix of `oid`.
    OidName Describe(const std::string& oid) const;
    // "MODULE::name.suffix", or "name.suffix" (withModule false), or the numeric OID with
    // a leading dot when nothing is named.
    std::string Format(const std::string& oid, bool withModule = true) const;

    // The MIB object definition with exactly this OID (no instance suffix), or null.
    ComPtr<ISnmpVariable> Definition(const std::string& objectOid) const;
    // The definition of the object that `oid` is an instance of (longest prefix), or null.
    ComPtr<ISnmpVariable> DefinitionOf(const std::string& oid, std::string* objectOid = nullptr) const;

    // Base type (VariableTypeConstants) of an object from its syntax, through textual
    // conventions; -1 when unknown.
    int ObjectType(ISnmpVariable* definition) const;
    // Enumeration labels of an object's syntax ("INTEGER {up(1),down(2)}" form for
    // ValueName), or "".
    std::string EnumSyntax(ISnmpVariable* definition) const;
    // The UNITS of an object, or "".
    std::string Units(ISnmpVariable* definition) const;
    // The syntax name (textual convention or base type) of an object.
    std::string SyntaxName(ISnmpVariable* definition) const;

    // What output needs of the object that `oid` is an instance of, looked up once per
    // object: its enumeration syntax, units and syntax name (all empty without one).
    struct ObjectInfo {
        std::string enumSyntax, units, syntaxName;
    };
    const ObjectInfo& InfoOf(const std::string& oid) const;

    // The module a name belongs to (best guess when several define it).
    std::string ModuleOf(const std::string& name) const;

    // Notifications: name of a notification OID, and the reverse.
    struct Notification {
        std::string name, module, oid;
        std::vector<std::string> objects;
    };
    const Notification* NotificationByOid(const std::string& oid) const;

    // Every named node of the loaded modules with its OID (for image sidecars).
    std::vector<std::tuple<std::string, std::string, std::string>> NamedNodes() const;

    static std::string SidecarPath(const std::string& image) { return image + ".names"; }

private:
    void Compile(const std::vector<std::string>& roots, bool required, const std::vector<std::string>& files,
                 bool oneCall);
    void LoadImage(const std::string& image);
    void AfterLoad();
    // Reads the bodies of the loaded modules (the names they define, their types and
    // syntaxes) and the notifications, the first time a lookup needs them: commands that
    // only translate names to OIDs never do.
    void LoadDetails() const;
    void LoadSidecar() const;
    std::string NameOid(const std::string& name, const std::string& module) const;
    bool NodeName(const std::string& oid, std::string* name, std::string* module) const;
    bool LookUpNodeName(const std::string& oid, std::string* name, std::string* module) const;

    std::unique_ptr<ModuleFinder> finder_;
    ComPtr<ISnmpMib> mib_;
    ComPtr<ISnmpVariables> variables_;
    mutable std::vector<SmiModule> modules_;  // headers at load; bodies with LoadDetails
    std::vector<std::string> loadedModules_;
    std::set<std::string> explicitModules_;
    bool imageLoaded_ = false;
    std::unordered_map<std::string, const SmiModule*> moduleByName_;
    // Built by LoadDetails: name -> modules that define it, types and object syntaxes.
    mutable bool detailsLoaded_ = false;
    mutable std::unordered_map<std::string, std::vector<std::string>> definedIn_;
    mutable std::unordered_map<std::string, SmiSyntax> types_;
    mutable std::unordered_map<std::string, SmiSyntax> objectSyntax_;
    // Notifications by OID and by name (from an image sidecar at load, else LoadDetails).
    mutable std::vector<Notification> notifications_;
    mutable std::unordered_map<std::string, size_t> notificationByOid_;
    mutable std::unordered_map<std::string, size_t> notificationByName_;
    // Image sidecar, read the first time a lookup needs it: oid -> (name, module) and
    // name -> (module, oid), as views into its text.
    std::string image_;
    mutable bool sidecarLoaded_ = false;
    mutable std::string sidecar_;
    mutable std::unordered_map<std::string_view, std::pair<std::string_view, std::string_view>> sidecarByOid_;
    mutable std::unordered_multimap<std::string_view, std::pair<std::string_view, std::string_view>> sidecarByName_;
    // Lookups of a walk repeat for every row: the names found by OID, and definitions by
    // OID (misses too), remembered.
    mutable std::unordered_map<std::string, std::pair<std::string, std::string>> nodeCache_;
    mutable std::unordered_map<std::string, ComPtr<ISnmpVariable>> definitionCache_;
    mutable std::unordered_map<std::string, ObjectInfo> infoCache_;
    // The last object found that has no named children (a scalar or a column): the rows of
    // a walk are its instances, one after the other.
    mutable std::string lastLeaf_;
    mutable OidName lastLeafName_;
    // The OID that Describe last searched and the named prefix it found (empty: none).
    mutable std::string lastSearched_, lastBase_, lastBaseName_, lastBaseModule_;
};

// A new MibSet that lives until the process ends: a command ends with the process, and
// freeing tens of thousands of MIB objects one by one would cost more than a short command.
MibSet& KeptMibSet();

}  // namespace vs
