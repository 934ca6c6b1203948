// The control as a streaming pass sees it, for the engine's tests and fuzz targets (native and
// under Wine): its settings, IV register and debug log, progress and the abort request, recorded
// or scripted.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "crypto/algorithm_types.h"
#include "base/buffer.h"
#include "crypto/symmetric.h"
#include "test_bytes.h"

namespace ombrix::testing_passes {

using test::Bytes;

class TestOwner : public CipherOwner, public EventControl {
public:
    int32_t CipherMode() const override { return mode; }
    int32_t CipherPadding() const override { return padding; }
    int32_t CipherCompression() const override { return compression; }
    Buffer& CipherIvRegister() override { return iv; }
    bool DebugLogEnabled() const override { return log_enabled; }
    void DebugLogLine(const char* line) override {
        if (line)
            log += line;
        else
            ++null_log_lines;
    }
    bool EventsEnabled() const override { return true; }
    bool AbortRequested() const override { return abort; }
    bool FireProgress(uint64_t position, uint64_t total) override {
        progress.emplace_back(position, total);
        if (abort_at_first_progress) abort = true;
        return !gone_at_first_progress;
    }

    // As the control's InitVector put: the bytes, then zeros through the whole storage; the
    // register holds `block` bytes (the bytes cut or padded with zeros).
    void SetIv(const Bytes& bytes, uint32_t block) {
        iv.Clear();
        memset(iv.AppendSpace(iv.Capacity() - 1), 0, iv.Capacity() - 1);
        iv.Clear();
        Bytes padded = bytes;
        padded.resize(block, 0);
        iv.Append(padded.data(), block);
    }

    int32_t mode = algorithm_type::kModeECB, padding = algorithm_type::kPadNull, compression = algorithm_type::kNoCompression;
    Buffer iv;
    bool log_enabled = true;
    std::string log;
    int null_log_lines = 0;  // lines the pass handed over as a null pointer
    bool abort = false, abort_at_first_progress = false, gone_at_first_progress = false;
    std::vector<std::pair<uint64_t, uint64_t>> progress;
};

}  // namespace ombrix::testing_passes
