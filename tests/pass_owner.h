// The control as a streaming pass sees it, for the engine's tests (native and under Wine): its
// settings, IV register and debug log, progress and the abort request, recorded or scripted.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "crypto/algorithm_types.h"
#include "base/buffer.h"
#include "crypto/symmetric.h"

namespace ombrix::testing_passes {

using Bytes = std::vector<uint8_t>;

class TestOwner : public CipherOwner, public EventControl {
public:
    int32_t CipherMode() const override { return mode; }
    int32_t CipherPadding() const override { return padding; }
    int32_t CipherCompression() const override { return compression; }
    Buffer& CipherIvRegister() override { return iv; }
    bool DebugLogEnabled() const override { return true; }
    void DebugLogLine(const char* line) override { log += line; }
    bool EventsEnabled() const override { return true; }
    bool AbortRequested() const override { return abort; }
    bool FireProgress(uint64_t position, uint64_t total) override {
        progress.emplace_back(position, total);
        if (abort_at_first_progress) abort = true;
        return !gone_at_first_progress;
    }

    // As the control's InitVector put: the bytes, then zeros through the whole storage.
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
    std::string log;
    bool abort = false, abort_at_first_progress = false, gone_at_first_progress = false;
    std::vector<std::pair<uint64_t, uint64_t>> progress;
};

}  // namespace ombrix::testing_passes
