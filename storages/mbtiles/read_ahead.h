#pragma once
// A SQLite file layer for the listing's read-only connections: where a
// connection reads pages one after another, it reads the file ahead in
// large pieces, so that a walk of a big table costs a system call per
// 256 KB instead of one per page. Everything else goes to the system's
// own layer unchanged.

namespace mbtiles {

// Registers the layer (under kReadAheadVfs) while at least one ReadAheadUse
// lives: the layer's code is in this plugin, which the program may unload,
// so SQLite must not keep it registered beyond its use.
class ReadAheadUse {
public:
    static constexpr const char* kReadAheadVfs = "ulmora-read-ahead";

    ReadAheadUse();
    ~ReadAheadUse();
    ReadAheadUse(const ReadAheadUse&) = delete;
    ReadAheadUse& operator=(const ReadAheadUse&) = delete;

    // False when the layer could not be registered: open without it.
    bool Available() const { return available_; }

private:
    bool available_ = false;
};

} // namespace mbtiles
