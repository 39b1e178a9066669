// Turning a page of search or collection results into items and paging values.
#include "platform/codepage.h"
#include "common/host_callback.h"
#include "service/api.h"
#include "service/json_util.h"

namespace {
// Buffer sizes of the stored texts, terminating zero included.
const size_t kTextBuf = 255;
const size_t kUrlBuf = 2047;
}  // namespace

int CLumoraApi::ParseWallpaperArray(const std::string& response, CItemArray& items, std::string& seed,
                                    int& lastPage, int& total) {
    Json::Value root;
    if (!ParseJsonAnswer(response, root)) {
        LogMessage("ParseWallpaperArray: JSON parse error");
        m_errtext = "JSON parse error";
        return 0;
    }

    // Type errors below raise Json::Exception on purpose: the callers decide
    // how a malformed answer ends (see QuerySearchPage).
    if (root.isMember("meta")) {
        const Json::Value& meta = root["meta"];
        lastPage = meta.get("last_page", 0).asInt();
        total = meta.get("total", 0).asInt();
        if (meta.isMember("seed")) seed = JsonText(meta.get("seed", ""), kTextBuf);
    }

    if (!root.isMember("data") || !root["data"].isArray()) {
        LogMessage("ParseWallpaperArray: missing data array");
        return 1;
    }

    const Json::Value& data = root["data"];
    for (Json::Value::ArrayIndex i = 0; i < data.size(); ++i) {
        const Json::Value& el = data[i];
        CLumoraItem item;
        const std::string id = JsonUtf8(el.get("id", ""));
        item.Id = plat::Utf8ToAnsi(id, kTextBuf);
        const std::string path = JsonUtf8(el.get("path", ""));
        item.Url = plat::Utf8ToAnsi(path, kUrlBuf);
        size_t slash = path.rfind('/');
        item.Name = slash != std::string::npos ? plat::Utf8ToAnsi(path.substr(slash + 1), kTextBuf) : item.Id;
        item.FileType = JsonText(el.get("file_type", "image/jpeg"), kTextBuf);
        if (el.isMember("uploader") && el["uploader"].isMember("username"))
            item.Uploader = JsonText(el["uploader"]["username"], kTextBuf);
        item.Purity = JsonText(el.get("purity", "sfw"), kTextBuf);
        if (item.Id.empty()) continue;
        // A cut id could equal another one and drop it as a duplicate; a cut
        // address would fetch another file or none: such items are dropped.
        if (!FitsBuffer(id, kTextBuf)) {
            LogMessage("ParseWallpaperArray: id %.40s... too long, skipped", item.Id.c_str());
            continue;
        }
        if (!FitsBuffer(path, kUrlBuf)) {
            LogMessage("ParseWallpaperArray: address of %s too long, skipped", item.Id.c_str());
            continue;
        }
        items.Add(item);
    }

    LogMessage("ParseWallpaperArray: parsed %d wallpapers, total=%d, lastPage=%d", items.GetSize(), total,
               lastPage);
    return 1;
}
