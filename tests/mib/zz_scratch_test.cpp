#include <gtest/gtest.h>
#include <filesystem>
#include <chrono>
#include <time.h>
static double CpuNs(){ timespec t; clock_gettime(CLOCK_THREAD_CPUTIME_ID,&t); return t.tv_sec*1e9+t.tv_nsec; }
#include <cstdio>
#include "mib/mib.h"
#include "sock/velk_strings.h"
using namespace velk;
static std::string Desc() {
  ComPtr<IErrorInfo> e; GetErrorInfo(0, e.Put()); if(!e) return "(none)";
  Bstr d; e->GetDescription(d.Put()); return d.ToAnsi();
}
TEST(Scratch, Corpus) {
  std::vector<std::string> files;
  for (auto& e : std::filesystem::directory_iterator(VELK_MIBS_DIR))
    if (e.path().extension()==".txt") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  ComPtr<ISnmpMib> mib; ASSERT_EQ(mib::CreateSnmpMib(mib.Put()), S_OK);
  ComPtr<IVelkStrings> names; sock::CreateVelkStrings(names.Put());
  for (auto& f : files) names->Add(Bstr::FromAnsi(f).Get(), 0);
  auto t0 = std::chrono::steady_clock::now();
  HRESULT hr = mib->Compile(names.Get());
  auto t1 = std::chrono::steady_clock::now();
  printf("hr=%x %s\n", hr, FAILED(hr)? Desc().c_str() : "");
  printf("ms=%f\n", std::chrono::duration<double,std::milli>(t1-t0).count());
  ComPtr<ISnmpVariables> v; mib->get_Variables(v.Put()); LONG n; v->get_Count(&n); printf("vars=%d\n", n);
  ComPtr<ISnmpTraps> t; mib->get_Traps(t.Put()); t->get_Count(&n); printf("traps=%d\n", n);
  ComPtr<IVelkStrings> m; mib->get_Modules(m.Put()); m->get_Count(&n); printf("modules=%d\n", n);
  Bstr all; m->put_Delimiter(Bstr::FromAnsi(" ").Get()); m->get_All(all.Put()); printf("%s\n", all.ToAnsi().c_str());
  for (const char* q : {"sysDescr","ifIndex","ifXTable","snmpTrapOID","internet","hrSWRunName","ucdavis","netSnmp"}) {
    Bstr o; mib->get_Oid(Bstr::FromAnsi(q).Get(), o.Put()); printf("%s = %s\n", q, o.ToAnsi().c_str());
  }
}
TEST(Scratch, Each) {
  std::vector<std::string> files;
  for (auto& e : std::filesystem::directory_iterator(VELK_MIBS_DIR))
    if (e.path().extension()==".txt") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (auto& f : files) {
    ComPtr<ISnmpMib> mib; ASSERT_EQ(mib::CreateSnmpMib(mib.Put()), S_OK);
    ComPtr<IVelkStrings> names; sock::CreateVelkStrings(names.Put());
    names->Add(Bstr::FromAnsi(f).Get(), 0);
    HRESULT hr = mib->Compile(names.Get());
    ComPtr<IVelkStrings> m; mib->get_Modules(m.Put()); LONG n; m->get_Count(&n);
    if (FAILED(hr)) printf("%s: %s\n", f.c_str(), Desc().c_str());
  }
}
#include <fstream>
#include <regex>
#include <map>
#include <set>
static std::map<std::string, std::string> ModuleFiles() {
  std::map<std::string, std::string> m;
  for (auto& e : std::filesystem::directory_iterator(VELK_MIBS_DIR)) {
    if (e.path().extension()!=".txt") continue;
    std::ifstream in(e.path()); std::string line;
    std::regex def(R"(^\s*([A-Za-z][A-Za-z0-9-]*)\s+DEFINITIONS\s*::=)");
    while (std::getline(in, line)) { std::smatch sm; if (std::regex_search(line, sm, def)) { m[sm[1]] = e.path(); break; } }
  }
  return m;
}
static std::set<std::string> Imports(const std::string& file) {
  std::ifstream in(file); std::stringstream ss; ss << in.rdbuf(); std::string s = ss.str();
  std::set<std::string> out;
  auto p = s.find("IMPORTS"); if (p==std::string::npos) return out;
  auto e = s.find(';', p);
  std::string block = s.substr(p, e-p);
  std::regex from(R"(FROM\s+([A-Za-z][A-Za-z0-9-]*))");
  for (std::sregex_iterator it(block.begin(), block.end(), from), end; it!=end; ++it) out.insert((*it)[1]);
  return out;
}
TEST(Scratch, Closure) {
  auto files = ModuleFiles();
  for (auto& [mod, file] : files) {
    std::vector<std::string> order; std::set<std::string> seen; std::vector<std::string> todo{mod};
    while (!todo.empty()) { auto x = todo.back(); todo.pop_back(); if (!seen.insert(x).second) continue; if (!files.count(x)) { printf("missing %s\n", x.c_str()); continue;} order.push_back(files[x]); for (auto& i : Imports(files[x])) todo.push_back(i); }
    ComPtr<ISnmpMib> mib; ASSERT_EQ(mib::CreateSnmpMib(mib.Put()), S_OK);
    ComPtr<IVelkStrings> names; sock::CreateVelkStrings(names.Put());
    for (auto it = order.rbegin(); it != order.rend(); ++it) names->Add(Bstr::FromAnsi(*it).Get(), 0);
    HRESULT hr = mib->Compile(names.Get());
    if (FAILED(hr)) printf("%s: %s\n", mod.c_str(), Desc().c_str());
  }
}
static std::vector<std::string> Translate(const std::vector<std::string>& names) {
  std::string cmd = "SNMPCONFPATH=/tmp/emptyconf snmptranslate -On -M " VELK_MIBS_DIR " -m ALL";
  for (auto& n : names) cmd += " '" + n + "'";
  cmd += " 2>/dev/null";
  FILE* f = popen(cmd.c_str(), "r"); std::vector<std::string> out; char buf[4096];
  while (fgets(buf, sizeof buf, f)) { std::string l(buf); while(!l.empty() && (l.back()=='\n')) l.pop_back(); if (!l.empty()) out.push_back(l); }
  pclose(f); return out;
}
TEST(Scratch, AllNodes) {
  auto files = ModuleFiles();
  ComPtr<ISnmpMib> mib; ASSERT_EQ(mib::CreateSnmpMib(mib.Put()), S_OK);
  ComPtr<IVelkStrings> names; sock::CreateVelkStrings(names.Put());
  for (auto& [m, f] : files) if (m != "TRANSPORT-ADDRESS-MIB") names->Add(Bstr::FromAnsi(f).Get(), 0);
  ASSERT_EQ(mib->Compile(names.Get()), S_OK) << Desc();
  auto& nodes = static_cast<mib::SnmpMib*>(mib.Get())->Store().Nodes();
  printf("nodes=%zu\n", nodes.Size());
  std::vector<std::string> q; std::vector<std::string> oids;
  int bad=0, checked=0;
  for (size_t i = 0; i < nodes.Size(); ++i) {
    auto& n = nodes.At(i); if (n.module.empty()) continue;
    std::vector<std::string> one{std::string(n.module)+"::"+std::string(n.name)};
    auto r = Translate(one); ++checked;
    std::string mine = "." + std::string(n.oid);
    if (r.size()!=1 || r[0]!=mine) { ++bad; printf("%s: mine %s theirs %s\n", one[0].c_str(), mine.c_str(), r.empty()?"-":r[0].c_str()); }
  }
  printf("checked %d bad %d\n", checked, bad);
}
TEST(Scratch, Timing) {
  auto files = ModuleFiles();
  std::vector<std::string> paths;
  for (auto& [m, f] : files) if (m != "TRANSPORT-ADDRESS-MIB") paths.push_back(f);
  ComPtr<IVelkStrings> names; sock::CreateVelkStrings(names.Put());
  for (auto& f : paths) names->Add(Bstr::FromAnsi(f).Get(), 0);
  std::vector<double> times;
  ComPtr<ISnmpMib> keep;
  for (int r = 0; r < 15; ++r) {
    ComPtr<ISnmpMib> mib; mib::CreateSnmpMib(mib.Put());
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(mib->Compile(names.Get()), S_OK);
    auto t1 = std::chrono::steady_clock::now();
    times.push_back(std::chrono::duration<double,std::milli>(t1-t0).count());
    keep = mib;
  }
  std::sort(times.begin(), times.end());
  printf("compile median %.2f ms min %.2f\n", times[times.size()/2], times[0]);
  auto& nodes = static_cast<mib::SnmpMib*>(keep.Get())->Store().Nodes();
  std::vector<Bstr> oids, nms;
  for (size_t i = 0; i < nodes.Size(); ++i) { oids.push_back(Bstr::FromAnsi(std::string(nodes.At(i).oid) + ".0")); nms.push_back(Bstr::FromAnsi(nodes.At(i).name)); }
  auto t0 = std::chrono::steady_clock::now();
  size_t hits = 0;
  for (int i = 0; i < 100000; ++i) { BSTR out = nullptr; keep->get_Name(oids[i % oids.size()].Get(), &out); hits += out != nullptr; SysFreeString(out); }
  auto t1 = std::chrono::steady_clock::now();
  for (int i = 0; i < 100000; ++i) { BSTR out = nullptr; keep->get_Oid(nms[i % nms.size()].Get(), &out); hits += out != nullptr; SysFreeString(out); }
  auto t2 = std::chrono::steady_clock::now();
  printf("Name %.1f ns, Oid %.1f ns, hits %zu\n", std::chrono::duration<double,std::nano>(t1-t0).count()/1e5, std::chrono::duration<double,std::nano>(t2-t1).count()/1e5, hits);
}
TEST(Scratch, Timing3) {
  auto files = ModuleFiles();
  std::vector<std::string> paths;
  for (auto& [m, f] : files) if (m != "TRANSPORT-ADDRESS-MIB") paths.push_back(f);
  ComPtr<IVelkStrings> names; sock::CreateVelkStrings(names.Put());
  for (auto& f : paths) names->Add(Bstr::FromAnsi(f).Get(), 0);
  std::vector<double> times; ComPtr<ISnmpMib> keep;
  for (int r = 0; r < 15; ++r) {
    ComPtr<ISnmpMib> mib; mib::CreateSnmpMib(mib.Put());
    double t0 = CpuNs(); ASSERT_EQ(mib->Compile(names.Get()), S_OK); times.push_back((CpuNs()-t0)/1e6); keep = mib;
  }
  std::sort(times.begin(), times.end());
  printf("cpu compile median %.2f ms min %.2f\n", times[times.size()/2], times[0]);
  auto& nodes = static_cast<mib::SnmpMib*>(keep.Get())->Store().Nodes();
  std::vector<Bstr> oids, nms;
  for (size_t i = 0; i < nodes.Size(); ++i) { oids.push_back(Bstr::FromAnsi(std::string(nodes.At(i).oid) + ".0")); nms.push_back(Bstr::FromAnsi(nodes.At(i).name)); }
  for (int rep = 0; rep < 3; ++rep) {
    double t0 = CpuNs(); size_t hits = 0;
    for (int i = 0; i < 100000; ++i) { BSTR out = nullptr; keep->get_Name(oids[i % oids.size()].Get(), &out); hits += out != nullptr; SysFreeString(out); }
    double t1 = CpuNs();
    for (int i = 0; i < 100000; ++i) { BSTR out = nullptr; keep->get_Oid(nms[i % nms.size()].Get(), &out); hits += out != nullptr; SysFreeString(out); }
    double t2 = CpuNs();
    printf("cpu Name %.1f ns, Oid %.1f ns\n", (t1-t0)/1e5, (t2-t1)/1e5);
  }
}
TEST(Scratch, Timing2) {
  auto files = ModuleFiles();
  std::vector<std::string> paths;
  for (auto& [m, f] : files) if (m != "TRANSPORT-ADDRESS-MIB") paths.push_back(f);
  ComPtr<IVelkStrings> names; sock::CreateVelkStrings(names.Put());
  for (auto& f : paths) names->Add(Bstr::FromAnsi(f).Get(), 0);
  ComPtr<ISnmpMib> keep; mib::CreateSnmpMib(keep.Put());
  ASSERT_EQ(keep->Compile(names.Get()), S_OK);
  auto& nodes = static_cast<mib::SnmpMib*>(keep.Get())->Store().Nodes();
  std::vector<std::string> oids;
  for (size_t i = 0; i < nodes.Size(); ++i) oids.push_back(std::string(nodes.At(i).oid) + ".0");
  for (int rep = 0; rep < 3; ++rep) {
  auto t0 = std::chrono::steady_clock::now();
  size_t hits = 0;
  for (int i = 0; i < 100000; ++i) hits += nodes.NameOfOid(oids[i % oids.size()]).size();
  auto t1 = std::chrono::steady_clock::now();
  for (int i = 0; i < 100000; ++i) { BSTR b = SysAllocStringLen(nullptr, 20); SysFreeString(b); }
  auto t2 = std::chrono::steady_clock::now();
  printf("NameOfOid %.1f ns alloc %.1f ns hits %zu\n", std::chrono::duration<double,std::nano>(t1-t0).count()/1e5, std::chrono::duration<double,std::nano>(t2-t1).count()/1e5, hits);
  }
}
