#include "orvane/cli/serve/bench.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstring>

using Json = nlohmann::ordered_json;

namespace {

// The dialog's texts, as status events carry them, and the stage each means.
struct StageText
{
    const char* text;   // the whole text, or its start when it ends in '*'
    const char* stage;
};
const StageText kStages[] = {
    {"Turn the power on, after removing the LAN card during power-off.", "waiting"},
    {"Initializing!", "waking"},
    {"Downloading program to *", "sending"},
    {"Preparing for Programming!", "preparing"},
    {"Success to Install!", "verdict"},
    {"Fail to Install!", "verdict"},
};

const char* StageOf(const std::string& text)
{
    for (const StageText& s : kStages) {
        const size_t n = std::strlen(s.text);
        if (s.text[n - 1] == '*' ? text.compare(0, n - 1, s.text, n - 1) == 0 : text == s.text)
            return s.stage;
    }
    return nullptr;
}

std::string Str(const Json& j, const char* key)
{
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

long long Int(const Json& j, const char* key)
{
    const auto it = j.find(key);
    return it != j.end() && it->is_number() ? it->get<long long>() : 0;
}

Json Field(const Json& j, const char* key)
{
    const auto it = j.find(key);
    return it != j.end() ? *it : Json();
}

// Port names compared as a person reads them: com2 before com10.
bool NaturalLess(const std::string& a, const std::string& b)
{
    size_t i = 0, k = 0;
    while (i < a.size() && k < b.size()) {
        if (std::isdigit((unsigned char)a[i]) && std::isdigit((unsigned char)b[k])) {
            size_t i2 = i, k2 = k;
            while (i2 < a.size() && std::isdigit((unsigned char)a[i2]))
                ++i2;
            while (k2 < b.size() && std::isdigit((unsigned char)b[k2]))
                ++k2;
            const std::string x = a.substr(i, i2 - i), y = b.substr(k, k2 - k);
            const std::string xs = x.substr(std::min(x.find_first_not_of('0'), x.size()));
            const std::string ys = y.substr(std::min(y.find_first_not_of('0'), y.size()));
            if (xs.size() != ys.size())
                return xs.size() < ys.size();
            if (xs != ys)
                return xs < ys;
            i = i2;
            k = k2;
        } else {
            if (a[i] != b[k])
                return a[i] < b[k];
            ++i;
            ++k;
        }
    }
    return a.size() - i < b.size() - k;
}

} // namespace

std::string PortShortName(const std::string& port)
{
    const size_t slash = port.find_last_of("/\\");
    return slash == std::string::npos ? port : port.substr(slash + 1);
}

struct BenchState::Slot
{
    std::string port, name;
    int rank = 2;          // 0 named in the job, 1 a port the run was given, 2 one that came
    size_t index = 0;      // its place among those
    bool present = true;   // its adapter is there (a --watch port can go)
    bool seen = false;     // a port the run has had, not only a name in the job
    std::string stage = "starting";
    std::string status;    // the dialog's last text
    long long attempt = 0;
    std::string unitId, model, warning;
    double since = 0;      // the unit's start, on the state's clock
    Json progress;         // the last progress event's figures
    Json last;             // the last result, held until the next unit answers
    Json counts;           // units, passed, failed (report's, by port)
};

BenchState::BenchState(std::function<double()> now) : now_(std::move(now))
{
    if (!now_)
        now_ = [] { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); };
    started_ = now_();
    tally_.By("port");
    start_ = "{}";
}

BenchState::~BenchState() = default;

BenchState::Slot& BenchState::SlotOf(const std::string& port)
{
    for (auto& s : slots_)
        if (s->port == port)
            return *s;
    auto slot = std::make_unique<Slot>();
    slot->port = slot->name = port;
    const std::string shortName = PortShortName(port);
    for (size_t i = 0; i < names_.size(); ++i)
        if (names_[i].first == port || names_[i].first == shortName) {
            // The job's name takes the place its line held.
            slot->name = names_[i].second;
            slot->rank = 0;
            slot->index = i;
            for (auto it = slots_.begin(); it != slots_.end(); ++it)
                if ((*it)->rank == 0 && (*it)->index == i && !(*it)->seen) {
                    slots_.erase(it);
                    break;
                }
            break;
        }
    if (slot->rank != 0)
        for (size_t i = 0; i < ports_.size(); ++i)
            if (ports_[i] == port) {
                slot->rank = 1;
                slot->index = i;
            }
    slot->since = now_();
    slots_.push_back(std::move(slot));
    Slot& s = *slots_.back();
    Order();
    return s;
}

void BenchState::Order()
{
    std::stable_sort(slots_.begin(), slots_.end(), [](const auto& a, const auto& b) {
        if (a->rank != b->rank)
            return a->rank < b->rank;
        if (a->rank < 2)
            return a->index < b->index;
        return NaturalLess(a->port, b->port);
    });
}

std::vector<std::string> BenchState::Feed(const std::string& line)
{
    const Json e = Json::parse(line, nullptr, false);
    if (e.is_discarded() || !e.is_object())
        return {};
    const std::string event = Str(e, "event");
    const std::string port = Str(e, "port");

    if (event == "start") {
        Json header;
        for (const char* key : {"version", "image", "size", "sha256", "image_label", "operator", "bench", "matches"})
            if (e.contains(key))
                header[key] = e[key];
        header["job"] = Field(Field(e, "options"), "job");
        start_ = header.dump();
        names_.clear();
        for (const Json& s : Field(e, "slots"))
            if (s.is_object() && !Str(s, "port").empty())
                names_.emplace_back(Str(s, "port"), Str(s, "name"));
        for (size_t i = 0; i < names_.size(); ++i) {
            auto slot = std::make_unique<Slot>();
            slot->port = names_[i].first;
            slot->name = names_[i].second;
            slot->rank = 0;
            slot->index = i;
            slot->present = false;
            slot->stage = "absent";
            slots_.push_back(std::move(slot));
        }
        for (const Json& p : Field(e, "ports"))
            if (p.is_string())
                ports_.push_back(p.get<std::string>());
        for (const std::string& p : ports_) {
            Slot& s = SlotOf(p);
            s.seen = true;
        }
        Order();
        return {Snapshot()};
    }
    if (event == "spool" || (event == "summary" && e.contains("delivery"))) {
        const Json& d = event == "spool" ? e : e["delivery"];
        delivery_ = Json{{"sent", Int(d, "sent")}, {"waiting", Int(d, "waiting")}, {"rejected", Int(d, "rejected")}}.dump();
        if (event == "spool")
            return {BenchMessage()};
    }
    if (event == "summary") {
        ended_ = true;
        code_ = int(Int(e, "code"));
        for (auto& s : slots_)
            if (s->stage != "absent" && s->stage != "gone")
                s->stage = "ended";
        return {Snapshot()};
    }
    if (port.empty() || event == "report" || event == "report_group" || event == "check" || event == "port")
        return {};

    const size_t before = slots_.size();
    Slot& s = SlotOf(port);
    const bool isNew = !s.seen;
    s.seen = true;
    std::vector<std::string> messages;

    if (event == "port_added") {
        s.present = true;
        s.stage = "starting";
    } else if (event == "port_removed") {
        // A port that came and went without a unit, and that the job does
        // not name, leaves nothing to show.
        const bool idle = s.stage == "starting" || s.stage == "waiting";
        s.present = false;
        s.stage = "gone";
        if (s.rank == 2 && idle && s.last.is_null() && s.counts.is_null()) {
            slots_.erase(std::find_if(slots_.begin(), slots_.end(), [&](const auto& p) { return p.get() == &s; }));
            return {Snapshot()};
        }
    } else if (event == "unit_start") {
        s.attempt = Int(e, "attempt");
        s.since = now_();
        s.stage = "waiting";
        s.present = true;
        s.progress = Json();
        if (s.attempt <= 1) {
            s.unitId.clear();
            s.model.clear();
            s.warning.clear();
        }
    } else if (event == "status") {
        const std::string text = Str(e, "text");
        s.status = text;
        if (const char* stage = StageOf(text)) {
            static const size_t kModelAt = std::strlen("Downloading program to ");
            s.stage = stage;
            if (s.stage == "sending")   // the image begins: the model is known
                s.model = text.substr(kModelAt, text.size() - 1 - kModelAt);
            // A module answered: the unit the last result was for has gone.
            if (s.stage != "waiting" && s.stage != "verdict")
                s.last = Json();
        }
    } else if (event == "progress") {
        s.progress = Json{{"bytes", Field(e, "bytes")},
                          {"total", Field(e, "total")},
                          {"percent", Field(e, "percent")},
                          {"bytes_per_s", Field(e, "bytes_per_s")},
                          {"seconds_left", Field(e, "seconds_left")}};
        s.stage = Int(e, "bytes") >= Int(e, "total") ? "verdict" : "sending";
    } else if (event == "unit_id") {
        s.unitId = Str(e, "unit_id");
    } else if (event == "warning") {
        s.warning = Str(e, "text");
    } else if (event == "result") {
        s.last = Json{{"result", Field(e, "result")},
                      {"code", Field(e, "code")},
                      {"reason_code", Field(e, "reason_code")},
                      {"reason", Field(e, "reason")},
                      {"verdict", Field(e, "verdict")},
                      {"unit_id", Field(e, "unit_id")},
                      {"model", Field(e, "model")},
                      {"attempt", Field(e, "attempt")},
                      {"start", Field(e, "start")},
                      {"duration_s", Field(e, "duration_s")}};
        if (!Str(e, "model").empty())
            s.model = Str(e, "model");
        if (!Str(e, "unit_id").empty())
            s.unitId = Str(e, "unit_id");
        s.stage = "done";
        // What the header shows of the image and the bench, when the start
        // event did not say.
        Json header = Json::parse(start_);
        for (const char* key : {"sha256", "size", "image_label", "operator", "bench"})
            if (!header.contains(key) || header[key].is_null())
                header[key] = Field(e, key);
        if (!header.contains("image"))
            header["image"] = Field(e, "image");
        start_ = header.dump();

        tally_.Line("run", ++resultLines_, line);
        const std::vector<std::string> events = tally_.Events({"run"}, {});
        report_ = events.back();
        groups_.assign(events.begin(), events.end() - 1);
        for (const std::string& g : groups_) {
            const Json group = Json::parse(g, nullptr, false);
            for (auto& slot : slots_)
                if (slot->port == Str(group, "group"))
                    slot->counts = Json{{"units", Field(group, "units")},
                                        {"passed", Field(group, "passed")},
                                        {"failed", Field(group, "failed")}};
        }
        messages.push_back(BenchMessage());
    } else {
        return {};
    }
    // A tile that came, or moved: the whole state, in the new order.
    if (isNew || slots_.size() != before)
        return {Snapshot()};
    messages.insert(messages.begin(), SlotMessage(s));
    return messages;
}

std::string BenchState::SlotJson(const Slot& s) const
{
    Json j = {{"port", s.port},
              {"name", s.name},
              {"present", s.present},
              {"stage", s.stage},
              {"status", s.status},
              {"attempt", s.attempt},
              {"unit_id", s.unitId},
              {"model", s.model},
              {"warning", s.warning},
              {"elapsed_s", std::max(0.0, now_() - s.since)},
              {"progress", s.progress},
              {"last", s.last},
              {"counts", s.counts.is_null() ? Json{{"units", 0}, {"passed", 0}, {"failed", 0}} : s.counts}};
    return j.dump();
}

std::string BenchState::BenchJson() const
{
    Json j = Json::parse(start_);
    j["elapsed_s"] = std::max(0.0, now_() - started_);
    j["ended"] = ended_;
    j["code"] = ended_ ? Json(code_) : Json();
    j["report"] = report_.empty() ? Json() : Json::parse(report_, nullptr, false);
    j["delivery"] = delivery_.empty() ? Json() : Json::parse(delivery_, nullptr, false);
    return j.dump();
}

std::string BenchState::SlotMessage(const Slot& s) const
{
    return "{\"type\":\"slot\",\"slot\":" + SlotJson(s) + "}";
}

std::string BenchState::BenchMessage() const
{
    return "{\"type\":\"bench\",\"bench\":" + BenchJson() + "}";
}

std::string BenchState::Snapshot() const
{
    std::string text = "{\"type\":\"state\",\"kind\":\"bench\",\"bench\":";
    text += BenchJson();
    text += ",\"slots\":[";
    for (size_t i = 0; i < slots_.size(); ++i) {
        if (i)
            text += ',';
        text += SlotJson(*slots_[i]);
    }
    return text + "]}";
}
