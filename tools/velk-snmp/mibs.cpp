#include "mibs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace vs {

const char* const kDefaultModules = "SNMPv2-MIB:IF-MIB:IP-MIB:TCP-MIB:UDP-MIB:HOST-RESOURCES-MIB";

namespace {

std::string HomeDir() {
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

std::string ExpandHome(const std::string& dir) {
    if (StartsWith(dir, "~/")) return HomeDir() + dir.substr(1);
    if (dir == "~") return HomeDir();
    return dir;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> out;
    for (const std::string& part : Split(text, ':')) {
        const std::string t = Trim(part);
        if (!t.empty()) out.push_back(t);
    }
    return out;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}


// Groups files, given in import order with the positions of the files each imports, into
// steps: each group of files that import each other, after the groups it imports from
// (Tarjan's strongly connected components, which come out in that order). The first step
// takes every file before `together` (and every group it needs) as well.
std::vector<std::vector<size_t>> ImportSteps(const std::vector<std::vector<size_t>>& imports, size_t together) {
    const size_t n = imports.size();
    constexpr size_t kUnseen = static_cast<size_t>(-1);
    std::vector<size_t> index(n, kUnseen), low(n, 0), stack;
    std::vector<bool> onStack(n, false);
    std::vector<std::vector<size_t>> groups;
    size_t next = 0;
    std::function<void(size_t)> connect = [&](size_t v) {
        index[v] = low[v] = next++;
        stack.push_back(v);
        onStack[v] = true;
        for (size_t w : imports[v]) {
            if (index[w] == kUnseen) {
                connect(w);
                low[v] = std::min(low[v], low[w]);
            } else if (onStack[w]) {
                low[v] = std::min(low[v], index[w]);
            }
        }
        if (low[v] != index[v]) return;
        std::vector<size_t> group;
        size_t w;
        do {
            w = stack.back();
            stack.pop_back();
            onStack[w] = false;
            group.push_back(w);
        } while (w != v);
        std::sort(group.begin(), group.end());
        groups.push_back(std::move(group));
    };
    for (size_t v = 0; v < n; ++v)
        if (index[v] == kUnseen) connect(v);
    size_t first = 0;  // groups merged into the first step
    for (size_t g = 0; g < groups.size(); ++g)
        if (groups[g].front() < together) first = g + 1;
    if (first < 2) return groups;
    std::vector<std::vector<size_t>> steps(1);
    for (size_t g = 0; g < groups.size(); ++g) {
        if (g < first)
            steps[0].insert(steps[0].end(), groups[g].begin(), groups[g].end());
        else
            steps.push_back(std::move(groups[g]));
    }
    std::sort(steps[0].begin(), steps[0].end());
    return steps;
}

std::string DefaultModulesText() {
    const char* env = std::getenv("VELK_MIBS");
    return env && *env ? env : kDefaultModules;
}

}  // namespace

std::string DefaultMibDirsText() {
    const char* env = std::getenv("VELK_MIBDIRS");
    if (env && *env) return env;
    return "~/.snmp/mibs:/usr/share/snmp/mibs:/var/lib/mibs/ietf:/var/lib/mibs/iana";
}

std::vector<std::string> MibDirs(const MibOptions& options) {
    std::string text = options.dirs;
    if (!options.dirsGiven || text.empty()) {
        text = DefaultMibDirsText();
    } else if (text[0] == '+') {
        text = DefaultMibDirsText() + ":" + text.substr(1);
    }
    std::vector<std::string> dirs;
    for (const std::string& d : SplitList(text)) dirs.push_back(ExpandHome(d));
    return dirs;
}

bool ReadFile(const std::string& path, std::string* out, size_t limit) {
    out->clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // A file of known size in one read: once the size is reached, a short read is its end.
    struct stat st {};
    const size_t known = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) : 0;
    const size_t capacity = known > 0 ? known + 1 : 65536;
    bool ok = true;
    size_t size = 0;
    while (size < limit) {
        if (size == out->size()) out->resize(std::min(limit, std::max(capacity, size * 2)));
        const size_t wanted = out->size() - size;
        const ssize_t n = read(fd, out->data() + size, wanted);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        size += static_cast<size_t>(n);
        if (known > 0 && size >= known && static_cast<size_t>(n) < wanted) break;
    }
    close(fd);
    out->resize(size);
    return ok;
}

std::string ModuleFinder::Find(const std::string& module) {
    if (indexed_) {
        auto it = index_.find(module);
        return it == index_.end() ? "" : it->second;
    }
    if (auto it = found_.find(module); it != found_.end()) return it->second;
    // The usual file names first, each checked by the module name at its top.
    static const char* const kExtensions[] = {"", ".txt", ".mib", ".my", ".MIB", ".TXT"};
    for (const std::string& dir : dirs_) {
        for (const char* ext : kExtensions) {
            const std::string path = dir + "/" + module + ext;
            const FileInfo* file = IsRegularFile(path) ? File(path) : nullptr;
            if (file && file->firstModule == module) return found_[module] = path;
        }
    }
    IndexAll();
    auto it = index_.find(module);
    return it == index_.end() ? "" : it->second;
}

const ModuleFinder::FileInfo* ModuleFinder::File(const std::string& path) {
    auto it = files_.find(path);
    if (it == files_.end()) {
        std::optional<FileInfo> info;
        // One buffer for every file, large enough for the usual ones from the start.
        if (buffer_.capacity() < (1u << 20)) buffer_.reserve(1u << 20);
        if (ReadFile(path, &buffer_)) {
            info.emplace();
            info->firstModule = FirstModuleName(buffer_);
            info->modules = ScanModuleHeaders(buffer_, path);
            info->trapTypes = InvokesTrapType(buffer_);
        }
        it = files_.emplace(path, std::move(info)).first;
    }
    return it->second ? &*it->second : nullptr;
}

std::string ModuleFinder::DirsText() const {
    std::string s;
    for (const std::string& d : dirs_) s += (s.empty() ? "" : ":") + d;
    return s.empty() ? "(no folders)" : s;
}

const std::map<std::string, std::string>& ModuleFinder::All() {
    IndexAll();
    return index_;
}

void ModuleFinder::IndexAll() {
    if (indexed_) return;
    indexed_ = true;
    for (const std::string& dir : dirs_) {
        DIR* d = opendir(dir.c_str());
        if (!d) continue;
        std::vector<std::pair<std::string, bool>> names;  // name, known to be a regular file
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            names.emplace_back(e->d_name, e->d_type == DT_REG);
        }
        closedir(d);
        std::sort(names.begin(), names.end());
        for (const auto& [name, regular] : names) {
            const std::string path = dir + "/" + name;
            if (EndsWith(name, ".bin") || EndsWith(name, ".names") || !(regular || IsRegularFile(path))) continue;
            const FileInfo* file = File(path);
            if (file && !file->firstModule.empty()) index_.emplace(file->firstModule, path);
        }
    }
}

int BaseTypeOfName(const std::string& base) {
    if (base == "INTEGER" || base == "Integer32") return snmpInteger;
    if (base == "OCTET STRING" || base == "BITS" || base == "DisplayString" || base == "PhysAddress")
        return snmpOctetString;
    if (base == "OBJECT IDENTIFIER" || base == "ObjectName") return snmpObjectID;
    if (base == "IpAddress" || base == "NetworkAddress") return snmpIpAddress;
    if (base == "Counter32" || base == "Counter") return snmpCounter32;
    if (base == "Gauge32" || base == "Gauge" || base == "Unsigned32") return snmpGuage32;
    if (base == "TimeTicks") return snmpTimeTicks;
    if (base == "Opaque") return snmpOpaque;
    if (base == "NsapAddress") return snmpNSAPAddress;
    if (base == "UInteger32") return snmpUInteger32;
    if (base == "Counter64") return snmpCounter64;
    return -1;
}

MibSet& KeptMibSet() {
    static std::vector<MibSet*>* kept = new std::vector<MibSet*>;  // reachable: not a leak
    kept->push_back(new MibSet);
    return *kept->back();
}

MibSet::MibSet() {
    mib_ = Create<ISnmpMib>(CLSID_SnmpMib);
    Check(mib_->get_Variables(variables_.Put()), "cannot read the MIB");
}

void MibSet::Load(const MibOptions& options) {
    if (!options.image.empty()) {
        LoadImage(options.image);
        AfterLoad();
        return;
    }
    const bool required = options.modulesGiven && !options.modules.empty() && options.modules[0] != '+';
    std::vector<std::string> roots;
    finder_ = std::make_unique<ModuleFinder>(MibDirs(options));
    ModuleFinder& finder = *finder_;
    std::string text = options.modulesGiven ? options.modules : DefaultModulesText();
    std::vector<std::string> extra;
    if (!text.empty() && text[0] == '+') {
        for (const std::string& m : SplitList(DefaultModulesText())) roots.push_back(m);
        extra = SplitList(text.substr(1));
    } else {
        (required ? extra : roots) = SplitList(text);
    }
    // Explicit modules are required; defaults are loaded when they can be.
    bool all = false;
    for (const std::string& m : extra) {
        if (m == "ALL") {
            for (const auto& [name, path] : finder.All()) roots.push_back(name);
            all = true;
            continue;
        }
        explicitModules_.insert(m);
        if (finder.Find(m).empty()) Usage("MIB module " + m + " not found in " + finder.DirsText());
        roots.push_back(m);
    }
    // Default modules that are not there are left out quietly.
    std::vector<std::string> present;
    for (const std::string& m : roots)
        if (explicitModules_.count(m) || !finder.Find(m).empty()) present.push_back(m);
    // Every module of the folders: those that do not compile are left out with a warning.
    Compile(present, !explicitModules_.empty() && !all, {}, options.oneCall);
    AfterLoad();
}

std::vector<std::string> MibSet::LoadNamed(const MibOptions& options, const std::vector<std::string>& names) {
    std::vector<std::string> roots, files, named;
    finder_ = std::make_unique<ModuleFinder>(MibDirs(options));
    ModuleFinder& finder = *finder_;
    for (const std::string& n : names) {
        if (n.find('/') != std::string::npos || IsRegularFile(n)) {
            std::string text;
            if (!ReadFile(n, &text)) Usage("cannot read " + n);
            std::vector<SmiModule> found = ScanModuleHeaders(text, n);
            if (found.empty()) Usage(n + " holds no MIB module");
            for (const SmiModule& m : found) named.push_back(m.name);
            files.push_back(n);
        } else {
            if (finder.Find(n).empty()) Usage("MIB module " + n + " not found in " + finder.DirsText());
            roots.push_back(n);
            named.push_back(n);
        }
    }
    for (const std::string& n : named) explicitModules_.insert(n);
    if (options.modulesGiven)
        for (const std::string& m : SplitList(options.modules)) roots.push_back(m);
    Compile(roots, true, files, true);
    AfterLoad();
    return named;
}

void MibSet::Compile(const std::vector<std::string>& roots, bool required, const std::vector<std::string>& files,
                     bool oneCall) {
    // Collect the modules and everything they import.
    std::map<std::string, size_t> byName;
    std::vector<std::pair<std::string, std::string>> missing;  // module, imported by
    std::vector<std::string> pending;
    auto addFile = [&](const std::string& path) {
        std::vector<SmiModule> own;
        const std::vector<SmiModule>* found = nullptr;
        if (const ModuleFinder::FileInfo* file = finder_ ? finder_->File(path) : nullptr) {
            found = &file->modules;
        } else {
            std::string text;
            if (!ReadFile(path, &text)) return;
            own = ScanModuleHeaders(text, path);
            found = &own;
        }
        for (const SmiModule& m : *found) {
            if (byName.count(m.name)) continue;
            byName[m.name] = modules_.size();
            for (const std::string& i : m.imports) pending.push_back(i + "\n" + m.name);
            modules_.push_back(m);
        }
    };
    for (const std::string& f : files) addFile(f);
    for (const std::string& r : roots) pending.push_back(r + "\n");
    while (!pending.empty()) {
        const std::string item = pending.back();
        pending.pop_back();
        const size_t nl = item.find('\n');
        const std::string module = item.substr(0, nl), importer = item.substr(nl + 1);
        if (byName.count(module)) continue;
        const std::string path = finder_ ? finder_->Find(module) : std::string();
        if (path.empty()) {
            bool known = false;
            for (const auto& [m, by] : missing) known = known || m == module;
            if (!known) missing.emplace_back(module, importer);
            continue;
        }
        addFile(path);
        if (!byName.count(module)) byName[module] = static_cast<size_t>(-1);
    }
    std::set<std::string> dropped;   // files left out after they failed (tolerant loading)
    std::set<std::string> compiled;  // files compiled by earlier calls
    // The files still to compile, each after the files it imports from.
    auto importOrder = [&] {
        std::vector<std::string> order;
        std::set<std::string> visited;
        std::function<void(const std::string&)> visit = [&](const std::string& name) {
            auto it = byName.find(name);
            if (it == byName.end() || it->second == static_cast<size_t>(-1) || !visited.insert(name).second) return;
            const SmiModule& m = modules_[it->second];
            for (const std::string& i : m.imports) visit(i);
            if (!dropped.count(m.file) && !compiled.count(m.file) &&
                std::find(order.begin(), order.end(), m.file) == order.end())
                order.push_back(m.file);
        };
        for (size_t i = 0; i < modules_.size(); ++i) visit(modules_[i].name);
        return order;
    };
    auto compile = [&](const std::vector<std::string>& order) {
        ComPtr<IVelkStrings> list = Create<IVelkStrings>(CLSID_VelkStrings);
        for (const std::string& f : order) list->Add(B(f).Get(), 0);
        const HRESULT hr = mib_->Compile(list.Get());
        if (SUCCEEDED(hr)) compiled.insert(order.begin(), order.end());
        return hr;
    };
    // Tolerant loading compiles in steps, in import order: each group of files that import
    // each other in one call, and everything up to the last file with a TRAP-TYPE in one
    // call (the compiler skips a TRAP-TYPE named like a trap of an earlier call). A module
    // that fails then costs a call of its own, not a compile of all the others again. Once
    // a step fails, the rest goes into one call, so that the failure reported and what a
    // name used without an import resolves to are those of a single call; the module that
    // failed is left out and the steps go on.
    auto compileInSteps = [&] {
        const std::vector<std::string> order = importOrder();
        std::map<std::string, size_t> position;
        for (size_t i = 0; i < order.size(); ++i) position[order[i]] = i;
        std::vector<std::vector<size_t>> imports(order.size());
        size_t together = 0;
        for (size_t i = 0; i < order.size(); ++i) {
            const ModuleFinder::FileInfo* file = finder_ ? finder_->File(order[i]) : nullptr;
            if (!file || file->trapTypes) together = i + 1;
        }
        for (const SmiModule& m : modules_) {
            auto from = position.find(m.file);
            if (from == position.end()) continue;
            for (const std::string& i : m.imports) {
                auto it = byName.find(i);
                if (it == byName.end() || it->second == static_cast<size_t>(-1)) continue;
                auto to = position.find(modules_[it->second].file);
                if (to != position.end() && to->second != from->second) imports[from->second].push_back(to->second);
            }
        }
        for (const std::vector<size_t>& step : ImportSteps(imports, together)) {
            std::vector<std::string> files;
            for (size_t i : step) files.push_back(order[i]);
            if (FAILED(compile(files))) return false;
        }
        return true;
    };
    const bool inOneCall = required || oneCall;
    bool stepsFailed = inOneCall;
    for (int attempt = 0; attempt < 16; ++attempt) {
        if (!stepsFailed && compileInSteps()) break;
        stepsFailed = inOneCall;
        const std::vector<std::string> order = importOrder();
        if (order.empty()) break;
        const HRESULT hr = compile(order);
        if (SUCCEEDED(hr)) break;
        std::string message = ErrorText(hr);
        const std::string prefix = "An error occured while compiling a mib: ";
        if (StartsWith(message, prefix)) message = message.substr(prefix.size());
        if (!missing.empty()) {
            message += " (not found:";
            for (const auto& [m, by] : missing) message += " " + m + (by.empty() ? "" : " imported by " + by);
            message += ")";
        }
        if (required) {
            modules_.clear();
            Fail("cannot compile the MIB modules: " + message);
        }
        // Leave out the file that failed and every module that imports from it, then retry.
        std::string failed;
        for (const std::string& f : order)
            if (StartsWith(message, f + "(") && f.size() > failed.size()) failed = f;
        if (failed.empty()) {
            std::fprintf(stderr, "velk-snmp: warning: MIB modules not loaded: %s\n", message.c_str());
            dropped.insert(order.begin(), order.end());
            break;
        }
        dropped.insert(failed);
        for (bool grew = true; grew;) {
            grew = false;
            for (const SmiModule& m : modules_) {
                if (dropped.count(m.file) || compiled.count(m.file)) continue;
                for (const std::string& i : m.imports) {
                    auto it = byName.find(i);
                    if (it != byName.end() && it->second != static_cast<size_t>(-1) &&
                        dropped.count(modules_[it->second].file)) {
                        dropped.insert(m.file);
                        grew = true;
                        break;
                    }
                }
            }
        }
        std::string left;
        for (const SmiModule& m : modules_)
            if (dropped.count(m.file)) left += (left.empty() ? "" : ", ") + m.name;
        std::fprintf(stderr, "velk-snmp: warning: left out %s: %s\n", left.c_str(), message.c_str());
        if (attempt == 15) {
            for (const SmiModule& m : modules_)
                if (!compiled.count(m.file)) dropped.insert(m.file);
            break;
        }
    }
    std::vector<SmiModule> kept;
    for (SmiModule& m : modules_)
        if (!dropped.count(m.file)) kept.push_back(std::move(m));
    modules_ = std::move(kept);
    for (const SmiModule& m : modules_) loadedModules_.push_back(m.name);
}

void MibSet::LoadImage(const std::string& image) {
    if (image.find(".bin") == std::string::npos)
        Usage("a MIB image file name must contain \".bin\": " + image);
    if (!IsRegularFile(image)) Usage("MIB image " + image + " does not exist");
    Check(mib_->Load(B(image).Get()), "cannot load the MIB image " + image);
    imageLoaded_ = true;
    image_ = image;
}

void MibSet::LoadSidecar() const {
    if (!imageLoaded_ || sidecarLoaded_) return;
    sidecarLoaded_ = true;
    if (!ReadFile(SidecarPath(image_), &sidecar_)) return;
    // Lines "OID NAME MODULE" and "OID NAME MODULE notification OBJECT-OID...", indexed as
    // views into the text.
    const std::string_view text = sidecar_;
    std::vector<std::string_view> f;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        f.clear();
        for (size_t from = 0;;) {
            const size_t space = line.find(' ', from);
            f.push_back(line.substr(from, space == std::string_view::npos ? std::string_view::npos : space - from));
            if (space == std::string_view::npos) break;
            from = space + 1;
        }
        if (f.size() < 3 || !IsNumericOid(f[0])) continue;
        const std::string_view oid = f[0], name = f[1], module = f[2];
        if (f.size() >= 4 && f[3] == "notification") {
            if (notificationByOid_.count(std::string(oid))) continue;
            Notification n{std::string(name), std::string(module), std::string(oid), {}};
            for (size_t i = 4; i < f.size(); ++i) n.objects.emplace_back(f[i]);
            notificationByOid_[n.oid] = notifications_.size();
            notificationByName_.emplace(n.name, notifications_.size());
            notifications_.push_back(std::move(n));
            continue;
        }
        sidecarByOid_.emplace(oid, std::make_pair(name, module));
        sidecarByName_.emplace(name, std::make_pair(module, oid));
    }
}

void MibSet::AfterLoad() {
    for (const SmiModule& m : modules_) moduleByName_[m.name] = &m;
}

void MibSet::LoadDetails() const {
    if (detailsLoaded_) return;
    detailsLoaded_ = true;
    LoadSidecar();
    // The modules of one file stand together: each file is read and scanned once.
    std::string text, file;
    std::vector<SmiModule> scanned;
    for (SmiModule& m : modules_) {
        if (m.file != file) {
            file = m.file;
            scanned = ReadFile(file, &text) ? ScanModules(text, file) : std::vector<SmiModule>();
        }
        for (SmiModule& s : scanned) {
            if (s.name != m.name) continue;
            m.definitions = std::move(s.definitions);
            m.types = std::move(s.types);
            m.objects = std::move(s.objects);
            break;
        }
        for (const auto& [name, kind] : m.definitions) definedIn_[name].push_back(m.name);
        for (const auto& [name, syntax] : m.types) types_.emplace(name, syntax);
        for (const auto& [name, syntax] : m.objects) objectSyntax_.emplace(name, syntax);
    }
    if (!notifications_.empty()) return;  // from an image sidecar
    ComPtr<ISnmpTraps> traps;
    if (FAILED(mib_->get_Traps(traps.Put())) || !traps) return;
    for (const ComPtr<ISnmpTrap>& t : Members<ISnmpTrap>(traps.Get())) {
        BSTR name = nullptr, enterprise = nullptr;
        LONG specific = 0;
        t->get_Name(&name);
        t->get_Enterprise(&enterprise);
        t->get_SpecificTrap(&specific);
        Notification n;
        n.name = A(name);
        const std::string ent = A(enterprise);
        if (n.name.empty() || !IsNumericOid(ent)) continue;
        // A NOTIFICATION-TYPE carries its own OID; a TRAP-TYPE its enterprise and number.
        n.oid = specific < 0 ? ent : ent + ".0." + std::to_string(specific);
        n.module = ModuleOf(n.name);
        ComPtr<IVelkStrings> oids;
        if (SUCCEEDED(t->get_Oids(oids.Put()))) n.objects = Texts(oids.Get());
        if (notificationByOid_.count(n.oid)) continue;
        notificationByOid_[n.oid] = notifications_.size();
        notificationByName_.emplace(n.name, notifications_.size());
        notifications_.push_back(std::move(n));
    }
}

std::string MibSet::ModuleOf(const std::string& name) const {
    LoadDetails();
    auto it = definedIn_.find(name);
    if (it == definedIn_.end() || it->second.empty()) {
        auto s = sidecarByName_.find(name);
        return s == sidecarByName_.end() ? std::string() : std::string(s->second.first);
    }
    const std::vector<std::string>& mods = it->second;
    if (mods.size() == 1) return mods[0];
    for (const std::string& m : mods)
        if (explicitModules_.count(m)) return m;
    for (const std::string& m : mods) {
        auto mm = moduleByName_.find(m);
        if (mm != moduleByName_.end() && mm->second->smiV2) return m;
    }
    return mods[0];
}

std::string MibSet::NameOid(const std::string& name, const std::string& module) const {
    if (!module.empty()) {
        LoadDetails();
        auto it = definedIn_.find(name);
        bool defined = false;
        if (it != definedIn_.end())
            for (const std::string& m : it->second) defined = defined || m == module;
        auto range = sidecarByName_.equal_range(name);
        for (auto s = range.first; s != range.second; ++s)
            if (s->second.first == module) return std::string(s->second.second);
        if (!defined) {
            auto n = notificationByName_.find(name);
            if (n != notificationByName_.end() && notifications_[n->second].module == module)
                return notifications_[n->second].oid;
            return {};
        }
    }
    BSTR oid = nullptr;
    mib_->get_Oid(B(name).Get(), &oid);
    std::string r = A(oid);
    if (!r.empty()) return r;
    LoadSidecar();
    auto s = sidecarByName_.find(name);
    if (s != sidecarByName_.end()) return std::string(s->second.second);
    LoadDetails();
    auto n = notificationByName_.find(name);
    if (n != notificationByName_.end()) return notifications_[n->second].oid;
    if (imageLoaded_) {
        BSTR found = nullptr;
        variables_->GetOIDFromName(B(name).Get(), &found);
        return A(found);
    }
    return {};
}

std::optional<std::string> MibSet::TryResolve(const std::string& input, std::string* error) const {
    auto failWith = [&](const std::string& e) -> std::optional<std::string> {
        if (error) *error = e;
        return std::nullopt;
    };
    std::string s = Trim(input);
    if (s.empty()) return failWith("empty OID");
    if (s[0] == '.' || (s[0] >= '0' && s[0] <= '9')) {
        const std::string oid = s[0] == '.' ? s.substr(1) : s;
        if (!IsNumericOid(oid)) return failWith("malformed OID '" + input + "'");
        return oid;
    }
    std::string module;
    if (const size_t p = s.find("::"); p != std::string::npos) {
        module = s.substr(0, p);
        s = s.substr(p + 2);
    }
    const size_t dot = s.find('.');
    const std::string label = s.substr(0, dot);
    const std::string rest = dot == std::string::npos ? "" : s.substr(dot + 1);
    if (!rest.empty() && !IsNumericOid(rest))
        return failWith("malformed index '" + rest + "' in '" + input + "' (give the index as numbers)");
    std::string oid = NameOid(label, module);
    if (oid.empty()) {
        if (!module.empty() && !moduleByName_.count(module) && !imageLoaded_)
            return failWith("unknown object '" + input + "' (module " + module + " is not loaded; load it with -m)");
        return failWith("unknown object name '" + (module.empty() ? label : module + "::" + label) +
                        "' (is its MIB module loaded? see -m)");
    }
    return rest.empty() ? oid : oid + "." + rest;
}

std::string MibSet::Resolve(const std::string& input) const {
    std::string error;
    if (auto r = TryResolve(input, &error)) return *r;
    Usage(error);
}

bool MibSet::NodeName(const std::string& oid, std::string* name, std::string* module) const {
    if (auto c = nodeCache_.find(oid); c != nodeCache_.end()) {
        *name = c->second.first;
        *module = c->second.second;
        return !name->empty();
    }
    if (!LookUpNodeName(oid, name, module)) name->clear();
    // Only names are kept: the OIDs without one are mostly instances, each asked once
    // (Describe does not ask again for the prefixes it shares with the OID before).
    if (nodeCache_.size() > 200000) nodeCache_.clear();
    if (!name->empty()) nodeCache_.emplace(oid, std::make_pair(*name, *module));
    return !name->empty();
}

bool MibSet::LookUpNodeName(const std::string& oid, std::string* name, std::string* module) const {
    LoadDetails();
    if (auto n = notificationByOid_.find(oid); n != notificationByOid_.end()) {
        *name = notifications_[n->second].name;
        *module = notifications_[n->second].module;
        return true;
    }
    if (!sidecarByOid_.empty()) {
        auto s = sidecarByOid_.find(oid);
        if (s == sidecarByOid_.end()) return false;
        *name = std::string(s->second.first);
        *module = std::string(s->second.second);
        return true;
    }
    if (imageLoaded_) {
        ComPtr<ISnmpVariable> def = Definition(oid);
        if (!def) return false;
        BSTR n = nullptr;
        def->get_Name(&n);
        *name = A(n);
        module->clear();
        return !name->empty();
    }
    BSTR n = nullptr;
    mib_->get_Name(B(oid).Get(), &n);
    *name = A(n);
    if (name->empty()) return false;
    // Name also answers an OID ending in ".0" with the name of the OID before it.
    if (EndsWith(oid, ".0")) {
        BSTR o = nullptr;
        mib_->get_Oid(B(*name).Get(), &o);
        if (A(o) == oid.substr(0, oid.size() - 2)) return false;
    }
    *module = ModuleOf(*name);
    return true;
}

namespace {

// Length of the longest whole-arc prefix that two OIDs share (0 when none).
size_t SharedArcs(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    size_t i = 0;
    while (i < n && a[i] == b[i]) ++i;
    if (i == n && (i == a.size() || a[i] == '.') && (i == b.size() || b[i] == '.')) return i;
    while (i > 0 && a[i - 1] != '.') --i;
    return i > 0 ? i - 1 : 0;
}

}  // namespace

OidName MibSet::Describe(const std::string& oid) const {
    OidName r;
    if (!lastLeaf_.empty() && oid.size() > lastLeaf_.size() && OidUnder(oid, lastLeaf_)) {
        r = lastLeafName_;
        r.suffix = oid.substr(lastLeaf_.size());
        return r;
    }
    // The longest named prefix. Of the prefixes that `oid` shares with the OID described
    // before, none longer than that one's named prefix has a name: the search stops there.
    size_t known = SharedArcs(oid, lastSearched_);
    if (lastSearched_.empty() || known < lastBase_.size()) known = 0;
    const bool useLast = known > 0;
    lastSearched_ = oid;
    std::string prefix = oid;
    for (;;) {
        if (useLast && prefix.size() <= known) {
            if (lastBase_.empty()) break;
            prefix = lastBase_;
            r.name = lastBaseName_;
            r.module = lastBaseModule_;
        } else if (!NodeName(prefix, &r.name, &r.module)) {
            const size_t dot = prefix.rfind('.');
            if (dot == std::string::npos) break;
            prefix.resize(dot);
            continue;
        }
        r.base = prefix;
        r.suffix = oid.substr(prefix.size());
        lastBase_ = prefix;
        lastBaseName_ = r.name;
        lastBaseModule_ = r.module;
        // An object without index and not a table has no named children.
        if (ComPtr<ISnmpVariable> def = Definition(prefix)) {
            ComPtr<IVelkStrings> index;
            def->get_Index(index.Put());
            LONG n = 0;
            if (index) index->get_Count(&n);
            BSTR syntax = nullptr;
            def->get_Syntax(&syntax);
            if (n == 0 && !StartsWith(A(syntax), "SEQUENCE")) {
                lastLeaf_ = prefix;
                lastLeafName_ = r;
                lastLeafName_.suffix.clear();
            }
        }
        return r;
    }
    lastBase_.clear();
    r.name.clear();
    r.module.clear();
    r.suffix = oid;
    return r;
}

std::string MibSet::Format(const std::string& oid, bool withModule) const {
    const OidName d = Describe(oid);
    if (d.name.empty()) return "." + oid;
    std::string s;
    if (withModule && !d.module.empty()) s = d.module + "::";
    return s + d.name + d.suffix;
}

ComPtr<ISnmpVariable> MibSet::Definition(const std::string& objectOid) const {
    auto c = definitionCache_.find(objectOid);
    if (c != definitionCache_.end()) return c->second;
    ComPtr<ISnmpVariable> def;
    LONG index = -1;
    if (SUCCEEDED(variables_->GetIndex(B(objectOid).Get(), &index)) && index > 0) {
        Variant at(index);
        variables_->Item(at, def.Put());
    }
    if (definitionCache_.size() > 200000) definitionCache_.clear();
    definitionCache_.emplace(objectOid, def);
    return def;
}

ComPtr<ISnmpVariable> MibSet::DefinitionOf(const std::string& oid, std::string* objectOid) const {
    // Usually the object is the longest named prefix.
    if (const OidName d = Describe(oid); !d.name.empty()) {
        if (ComPtr<ISnmpVariable> def = Definition(d.base)) {
            if (objectOid) *objectOid = d.base;
            return def;
        }
    }
    std::string prefix = oid;
    for (int i = 0; i < 64; ++i) {
        if (ComPtr<ISnmpVariable> d = Definition(prefix)) {
            if (objectOid) *objectOid = prefix;
            return d;
        }
        const size_t dot = prefix.rfind('.');
        if (dot == std::string::npos) break;
        prefix.resize(dot);
    }
    return nullptr;
}

int MibSet::ObjectType(ISnmpVariable* def) const {
    if (!def) return -1;
    LoadDetails();
    BSTR n = nullptr;
    def->get_Name(&n);
    const std::string name = A(n);
    std::string base;
    if (auto it = objectSyntax_.find(name); it != objectSyntax_.end()) {
        base = it->second.base;
    } else {
        BSTR s = nullptr;
        def->get_Syntax(&s);
        const std::string syntax = A(s);
        // The first word (two for OCTET STRING and OBJECT IDENTIFIER).
        size_t end = syntax.find_first_of(" ({");
        base = syntax.substr(0, end);
        if ((base == "OCTET" || base == "OBJECT") && end != std::string::npos) {
            const size_t end2 = syntax.find_first_of(" ({", end + 1);
            base = syntax.substr(0, end2);
        }
    }
    for (int depth = 0; depth < 16 && !base.empty(); ++depth) {
        const int t = BaseTypeOfName(base);
        if (t >= 0) return t;
        auto it = types_.find(base);
        if (it == types_.end()) break;
        base = it->second.base;
    }
    VariableTypeConstants type = snmpNull;
    def->get_Type(&type);
    return type == snmpNull ? -1 : type;
}

std::string MibSet::EnumSyntax(ISnmpVariable* def) const {
    LoadDetails();
    if (!def) return {};
    BSTR bs = nullptr;
    def->get_BaseSyntax(&bs);
    const std::string baseSyntax = A(bs);
    if (StartsWith(Trim(baseSyntax), "INTEGER") && baseSyntax.find('{') != std::string::npos) return baseSyntax;
    BSTR n = nullptr;
    def->get_Name(&n);
    auto it = objectSyntax_.find(A(n));
    if (it == objectSyntax_.end()) return {};
    SmiSyntax syntax = it->second;
    for (int depth = 0; depth < 16; ++depth) {
        if (!syntax.named.empty()) {
            return BaseTypeOfName(syntax.base) == snmpInteger || types_.count(syntax.base)
                       ? "INTEGER " + syntax.named
                       : std::string();
        }
        auto t = types_.find(syntax.base);
        if (t == types_.end()) return {};
        syntax = t->second;
    }
    return {};
}

const MibSet::ObjectInfo& MibSet::InfoOf(const std::string& oid) const {
    static const ObjectInfo kNone;
    if (Empty()) return kNone;
    const OidName d = Describe(oid);
    const std::string& key = d.name.empty() ? oid : d.base;
    auto it = infoCache_.find(key);
    if (it != infoCache_.end()) return it->second;
    ObjectInfo info;
    if (ComPtr<ISnmpVariable> def = DefinitionOf(oid)) {
        info.enumSyntax = EnumSyntax(def.Get());
        info.units = Units(def.Get());
        info.syntaxName = SyntaxName(def.Get());
    }
    if (infoCache_.size() > 100000) infoCache_.clear();
    return infoCache_.emplace(key, std::move(info)).first->second;
}

std::string MibSet::Units(ISnmpVariable* def) const {
    LoadDetails();
    if (!def) return {};
    BSTR n = nullptr;
    def->get_Name(&n);
    auto it = objectSyntax_.find(A(n));
    return it == objectSyntax_.end() ? std::string() : it->second.units;
}

std::string MibSet::SyntaxName(ISnmpVariable* def) const {
    LoadDetails();
    if (!def) return {};
    BSTR n = nullptr;
    def->get_Name(&n);
    auto it = objectSyntax_.find(A(n));
    if (it != objectSyntax_.end()) return it->second.base;
    BSTR s = nullptr;
    def->get_Syntax(&s);
    return A(s);
}

const MibSet::Notification* MibSet::NotificationByOid(const std::string& oid) const {
    LoadDetails();
    auto it = notificationByOid_.find(oid);
    return it == notificationByOid_.end() ? nullptr : &notifications_[it->second];
}

std::vector<std::tuple<std::string, std::string, std::string>> MibSet::NamedNodes() const {
    LoadDetails();
    std::vector<std::tuple<std::string, std::string, std::string>> out;
    std::set<std::pair<std::string, std::string>> seen;
    for (const SmiModule& m : modules_) {
        for (const auto& [name, kind] : m.definitions) {
            if (kind == DefKind::Notification || !seen.insert({name, m.name}).second) continue;
            BSTR o = nullptr;
            mib_->get_Oid(B(name).Get(), &o);
            const std::string oid = A(o);
            if (!oid.empty()) out.emplace_back(oid, name, m.name);
        }
    }
    return out;
}

}  // namespace vs
