#include "line/LinePoll.h"

#include "core/FreshValues.h"
#include "link/Link.h"

namespace hx::line {

namespace {

// No answer at all came: the instrument (or the line) is silent, the rest of the cycle waits.
bool unanswered(const Link& link) {
    const auto failure = link.lastFailure();
    return failure && (failure->kind == LinkFailure::Timeout || failure->kind == LinkFailure::BackOff ||
                       failure->kind == LinkFailure::Io || failure->kind == LinkFailure::Connection);
}

} // namespace

CycleAnswers pollCycle(Link& link, int32_t port, int address) {
    CycleAnswers answers;
    answers.address = address;
    const auto values = std::span<int32_t>(answers.values);
    const auto discrete = std::span<int32_t>(answers.discrete);
    const std::array<std::function<bool()>, 4> reads = {
        [&] { return answers.valueBlocks[0] = link.Get_3X_D8(port, address, 1, values.subspan(0, 8)) == 0; },
        [&] { return answers.valueBlocks[1] = link.Get_3X_D8(port, address, 9, values.subspan(8, 8)) == 0; },
        [&] {
            return answers.discreteBlocks[0] = link.Get_1X_B16(port, address, 1, discrete.subspan(0, 2)) == 0;
        },
        [&] {
            return answers.discreteBlocks[1] =
                       link.Get_1X_B16(port, address, 17, discrete.subspan(2, 2)) == 0;
        },
    };
    for (const auto& read : reads) {
        if (read())
            answers.answered = true;
        else if (unanswered(link))
            break;
    }
    answers.atMs = FreshValues::steadyNowMs();
    return answers;
}

LinePoll::LinePoll(Link& link, int32_t port, std::vector<int> addresses,
                   std::function<void(const CycleAnswers&)> deliver)
    : link_(link), port_(port), schedule_(std::move(addresses)), deliver_(std::move(deliver)) {}

LinePoll::~LinePoll() {
    stop();
}

void LinePoll::start() {
    thread_ = std::thread([this] { run(); });
}

void LinePoll::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void LinePoll::submit(std::function<void()> job, bool write) {
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) return;
        (write ? writes_ : reads_).push_back(std::move(job));
    }
    wake_.notify_all();
}

void LinePoll::runClientJobs() {
    std::vector<std::function<void()>> jobs;
    {
        const std::lock_guard lock(mutex_);
        jobs.assign(std::make_move_iterator(writes_.begin()), std::make_move_iterator(writes_.end()));
        writes_.clear();
        for (int n = 0; n < kReadsBetweenCycles && !reads_.empty(); ++n) {
            jobs.push_back(std::move(reads_.front()));
            reads_.pop_front();
        }
    }
    for (const auto& job : jobs) {
        if (stopping_) return;
        job();
    }
}

void LinePoll::run() {
    while (!stopping_) {
        runClientJobs();
        const int64_t now = FreshValues::steadyNowMs();
        if (const auto address = schedule_.next(now)) {
            const CycleAnswers answers = pollCycle(link_, port_, *address);
            schedule_.noteTurn(*address, answers.answered, answers.atMs);
            deliver_(answers);
            continue;
        }
        // Every instrument silent and probed within the second: the wire rests until the next probe.
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock,
                       std::chrono::milliseconds(std::max<int64_t>(1, schedule_.nextProbeDueMs() - now)),
                       [this] { return stopping_.load() || !writes_.empty() || !reads_.empty(); });
    }
}

} // namespace hx::line
