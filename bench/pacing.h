// The least a feature exchange can cost under the device's pacing rules: one idle poll,
// the write, and for a request with a reply the pre-wait, the reply wait, one reply read
// and the post-wait. Benchmarks print their figures beside these bounds.
#pragma once

namespace qvm::bench {

struct Cost {
    long exchanges = 0;
    long transfers = 0;
    long sleepMs = 0;

    void Exchange(int waitMs, long times = 1) {
        exchanges += times;
        if (waitMs < 0) {
            transfers += 2 * times;
            return;
        }
        const int pre = waitMs > 4 ? 2 : waitMs >= 1 ? 1 : 0;
        const int post = waitMs > 4 ? 3 : waitMs >= 1 ? 1 : 0;
        transfers += 3 * times;
        sleepMs += (pre + waitMs + post) * times;
    }
    double Ms(int usbCostMs) const { return double(sleepMs + transfers * usbCostMs); }
};

// Reading `bytes` in pieces of 7 (generation 0) or 61 bytes, one exchange a piece.
inline Cost ReadBound(int generation, long bytes) {
    Cost c;
    const long piece = generation <= 0 ? 7 : 61;
    c.Exchange(0, (bytes + piece - 1) / piece);
    return c;
}

}  // namespace qvm::bench
