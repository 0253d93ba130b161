// MibStore: the state of one SnmpMib object as the library's own C++ code sees it. The
// compiler (Compile), the single-file loader (Load of a MIB source file) and the image
// reader (Load of a ".bin" file) all work on it; SnmpMib owns one and exposes it to
// automation.
//
// Contract for the loaders (see mib/loaders.h):
// - Variables() and Traps() are the published collections. A loader appends to them
//   directly (SnmpVariables::AppendOwned, SnmpTraps::AppendOwned); what it added before an
//   error stays. Nothing else is published by a loader.
// - Nodes() is the known-node list shared with the compiler. A loader that resolves names
//   appends MibNode entries (name, OID, module; an absent module is empty) and looks names
//   up with NodeIndex::FindName (the first node of a name wins). Nodes appended stay until
//   Clear. The list is never empty while a Load runs: Load adds "iso" = 1 first.
// - Types() is the type-assignment list (Name::=RightSide) of the compiler; a loader may
//   read it.
// - CurrentModuleName() is empty when a source Load starts; the single-file loader sets it
//   from the DEFINITIONS line, and Load adds it to Modules when the loader succeeds.
// - CurrentFileName() is the name Load was given; FormatCompileError uses it.
// - DispatchPendingMessages() runs the host's pending work of the thread's message loop
//   (posted tasks, due timers, socket events; sockets are looked at no more than once per
//   millisecond, so one that has just become ready may wait for a later call). Host code
//   may run inside it and may call back into the same SnmpMib: a nested Load or Compile
//   fails with message 107 (the busy flag is set) and the source text stays intact, but
//   Clear, RemoveTable and the collections' own methods work, so after the call the loader
//   must not use anything it took from Variables(), Traps() or Nodes() before it
//   (positions, views of node texts); it looks names up again. The source text and the
//   tokenizer's position are never disturbed.
// - All texts are bytes of the ANSI code page (ISO-8859-1) until they are stored into an
//   automation object; WidenToBstr (mib/mib_errors.h) converts them.
// - One thread; no method takes a lock. None of them reports an error on its own.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "mib/mib_source.h"
#include "mib/node_index.h"
#include "mib/type_assignments.h"
#include "model/traps.h"
#include "model/variables.h"
#include "sock/velk_strings.h"
#include "velk/com.h"

namespace velk::mib {

class MibStore {
public:
    // Creates a store with its three collections; fails with the result of the first
    // collection that cannot be created (*out is then null).
    static HRESULT Create(std::unique_ptr<MibStore>* out);

    MibStore(const MibStore&) = delete;
    MibStore& operator=(const MibStore&) = delete;

    model::SnmpVariables& Variables() { return *variables_; }
    model::SnmpTraps& Traps() { return *traps_; }
    sock::VelkStrings& Modules() { return *modules_; }
    NodeIndex& Nodes() { return nodes_; }
    TypeAssignments& Types() { return types_; }
    MibSource& Source() { return source_; }

    // The file being read (as the caller named it).
    std::u16string_view CurrentFileName() const { return currentFile_; }
    void SetCurrentFileName(std::u16string_view name) { currentFile_.assign(name); }
    std::string_view CurrentModuleName() const { return currentModule_; }
    void SetCurrentModuleName(std::string_view name) { currentModule_.assign(name); }

    // The compile error of message `id` at `line` of the current file (message 109 prefix),
    // reported as ulCompile (12013); returns its failing HRESULT.
    HRESULT FormatCompileError(UINT id, unsigned long line, std::string_view argument) const;

    // Runs the calling thread's pending messages (see the contract above).
    void DispatchPendingMessages();

    // Set while Compile or a source Load runs.
    bool Busy() const { return busy_; }
    void SetBusy(bool busy) { busy_ = busy; }

    // Adds "iso" = 1 (no module) when the known-node list is empty.
    void AddIsoIfEmpty();

    // Empties Modules, Traps, Variables, the known-node list and the type-assignment list.
    void Clear();

private:
    MibStore() = default;

    ComPtr<model::SnmpVariables> variables_;
    ComPtr<model::SnmpTraps> traps_;
    ComPtr<sock::VelkStrings> modules_;
    MibSource source_;
    NodeIndex nodes_;
    TypeAssignments types_;
    std::u16string currentFile_;
    std::string currentModule_;
    bool busy_ = false;
};

}  // namespace velk::mib
