// The public collections of a service user, for the feed editor's Load.
#include <exception>

#include "platform/codepage.h"
#include "common/host_callback.h"
#include "service/api.h"
#include "service/client_util.h"
#include "service/json_util.h"

namespace {
const size_t kLabelBuf = 511;  // terminating zero included
}

int CLumoraApi::GetUserCollections(const char* user, CCollectionArray& collections) {
    const std::string name = user ? user : "";
    CParamList params;
    if (!m_apikey.empty()) params.Append("apikey", m_apikey);

    std::string response;
    // The name is percent-encoded UTF-8, as in the collection page request.
    if (!QueryServerApi(BaseUrl() + "/api/v1/collections/" + PathSegment(name), params, response, false,
                        false, !m_apikey.empty())
             .Ok())
        return 0;
    return ParseUserCollections(response, name, collections);
}

int CLumoraApi::ParseUserCollections(const std::string& response, const std::string& user,
                                     CCollectionArray& collections) {
    Json::Value root;
    if (!ParseJsonAnswer(response, root)) {
        m_errtext = "JSON parse error";
        return 0;
    }

    // This runs on the host's thread: a malformed answer must end as a failed
    // Load with a message, never as an exception into the host.
    const int oldSize = collections.GetSize();
    try {
        if (root.isMember("data") && root["data"].isArray()) {
            const Json::Value& data = root["data"];
            for (Json::Value::ArrayIndex i = 0; i < data.size(); ++i) {
                const Json::Value& el = data[i];
                CLumoraCollection c;
                c.Id = std::to_string(el.get("id", 0).asInt());
                c.Label = JsonText(el.get("label", ""), kLabelBuf);
                c.Count = el.get("count", 0).asInt();
                collections.Add(c);
            }
            LogMessage("GetUserCollections: found %d collections for %s", collections.GetSize(),
                       user.c_str());
        }
    } catch (const std::exception& e) {
        collections.SetSize(oldSize);
        m_errtext = LoadStr(IDS_QS_UNREADABLE_ANSWER);  // the detail goes to the log
        LogMessage("GetUserCollections: unexpected answer: %s", e.what());
        return 0;
    }
    return 1;
}
