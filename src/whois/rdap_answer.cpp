#include "whois/rdap_answer.h"

#include <nlohmann/json.hpp>

#include <utility>

namespace tessaly {
namespace {

using Json = nlohmann::json;

// A member that an answer holds with a type RDAP does not give it.
struct WrongType {
    std::string member;
};

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = lowerAscii(c);
    }
    return out;
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view lowerPrefix) {
    return text.size() >= lowerPrefix.size() &&
           lowered(text.substr(0, lowerPrefix.size())) == lowerPrefix;
}

// An HTTPS URL of printable ASCII only, which goes on the wire as it stands.
bool isHttpsUrl(std::string_view url) {
    for (char c : url) {
        if (c <= 0x20 || c >= 0x7F) {
            return false;
        }
    }
    return startsWithIgnoringCase(url, "https://") && url.size() > 8;
}

// Parses text as JSON, with no value nested deeper than rdapNestingLimit: nullopt (and why)
// for anything else. Strings must be UTF-8.
std::optional<Json> parseJson(std::string_view text, std::string& why) {
    bool tooDeep = false;
    const Json::parser_callback_t withinLimit = [&tooDeep](int depth, Json::parse_event_t, Json&) {
        if (depth > rdapNestingLimit) {
            tooDeep = true;
            return false;  // not kept: a deep value never grows a tree
        }
        return true;
    };
    Json parsed = Json::parse(text.begin(), text.end(), withinLimit, /*allow_exceptions=*/false);
    if (parsed.is_discarded()) {
        why = "malformed JSON";
        return std::nullopt;
    }
    if (tooDeep) {
        why = "JSON nested deeper than " + std::to_string(rdapNestingLimit) + " levels";
        return std::nullopt;
    }
    return parsed;
}

// The member key of object; nullptr when it is absent or null.
const Json* find(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

std::optional<std::string> stringAt(const Json& object, const char* key) {
    const Json* value = find(object, key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (!value->is_string()) {
        throw WrongType{key};
    }
    return value->get<std::string>();
}

// The array member key (an empty one when it is absent).
const Json& arrayAt(const Json& object, const char* key) {
    // Never destroyed: a worker may still read an answer while the program ends.
    static const Json* none = new Json(Json::array());
    const Json* value = find(object, key);
    if (value == nullptr) {
        return *none;
    }
    if (!value->is_array()) {
        throw WrongType{key};
    }
    return *value;
}

const Json& objectIn(const Json& value, const char* what) {
    if (!value.is_object()) {
        throw WrongType{what};
    }
    return value;
}

const std::string& stringIn(const Json& value, const char* what) {
    if (!value.is_string()) {
        throw WrongType{what};
    }
    return value.get_ref<const std::string&>();
}

// A vCard text value: a string, or the non-empty strings of a structured value (whose
// components may be lists of strings themselves) joined by ", ".
std::string vcardText(const Json& value, const char* what, bool component = false) {
    if (value.is_string()) {
        return value.get<std::string>();
    }
    if (!value.is_array()) {
        throw WrongType{what};
    }
    std::string joined;
    for (const Json& part : value) {
        if (component && !part.is_string()) {
            throw WrongType{what};
        }
        const std::string piece = vcardText(part, what, true);
        if (!piece.empty()) {
            joined += joined.empty() ? piece : ", " + piece;
        }
    }
    return joined;
}

struct Contact {
    std::vector<std::string> roles;  // lower case
    std::string name, organisation, email, country;
    std::string ianaId;  // a registrar's IANA ID
    std::vector<Contact> entities;
};

void readVcard(const Json& vcard, Contact& contact) {
    if (!vcard.is_array() || vcard.size() < 2 || vcard[0] != "vcard" || !vcard[1].is_array()) {
        throw WrongType{"vcardArray"};
    }
    for (const Json& property : vcard[1]) {
        if (!property.is_array() || property.size() < 4 || !property[0].is_string() ||
            !property[1].is_object() || !property[2].is_string()) {
            throw WrongType{"vcardArray property"};
        }
        const std::string name = lowered(property[0].get_ref<const std::string&>());
        const Json& value = property[3];
        auto first = [&](std::string& field) {
            if (field.empty()) {
                field = vcardText(value, name.c_str());
            }
        };
        if (name == "fn") {
            first(contact.name);
        } else if (name == "org") {
            first(contact.organisation);
        } else if (name == "email") {
            first(contact.email);
        } else if (name == "adr" && contact.country.empty()) {
            // The country code parameter (RFC 8605), else the address's country name.
            if (const auto cc = stringAt(property[1], "cc")) {
                contact.country = *cc;
            } else if (value.is_array() && value.size() >= 7) {
                contact.country = vcardText(value[6], "adr");
            } else if (!value.is_array() && !value.is_string()) {
                throw WrongType{"adr"};
            }
        }
    }
}

Contact readEntity(const Json& json, int level) {
    const Json& entity = objectIn(json, "entities");
    Contact contact;
    for (const Json& role : arrayAt(entity, "roles")) {
        contact.roles.push_back(lowered(stringIn(role, "roles")));
    }
    if (const Json* vcard = find(entity, "vcardArray")) {
        readVcard(*vcard, contact);
    }
    for (const Json& id : arrayAt(entity, "publicIds")) {
        const Json& publicId = objectIn(id, "publicIds");
        const auto type = stringAt(publicId, "type");
        const auto identifier = stringAt(publicId, "identifier");
        if (type && identifier && lowered(*type) == "iana registrar id" && contact.ianaId.empty()) {
            contact.ianaId = *identifier;
        }
    }
    if (level == 0) {  // one level of nested entities: the registrar's abuse contact
        for (const Json& nested : arrayAt(entity, "entities")) {
            contact.entities.push_back(readEntity(nested, level + 1));
        }
    }
    return contact;
}

bool hasRole(const Contact& contact, std::string_view role) {
    for (const std::string& r : contact.roles) {
        if (r == role) {
            return true;
        }
    }
    return false;
}

// How WHOIS answers name a contact of that role.
std::string roleLabel(const std::string& role) {
    if (role == "administrative") {
        return "Admin";
    }
    if (role == "technical") {
        return "Tech";
    }
    std::string label = role;
    if (!label.empty() && label[0] >= 'a' && label[0] <= 'z') {
        label[0] = static_cast<char>(label[0] - 'a' + 'A');
    }
    return label;
}

// Lines ending CR LF; a control character inside a value (a line end among them) becomes a
// space, so that no value can make lines of its own.
class Lines {
public:
    void line(std::string_view text) {
        for (char c : text) {
            const auto u = static_cast<unsigned char>(c);
            text_ += u < 0x20 || u == 0x7F ? ' ' : c;
        }
        text_ += "\r\n";
    }
    void field(std::string_view label, std::string_view value) {
        if (!value.empty()) {
            line(std::string(label) + ": " + std::string(value));
        }
    }
    std::string take() { return std::move(text_); }

private:
    std::string text_;
};

void contactLines(Lines& out, const std::string& label, const Contact& contact) {
    out.field(label + " Name", contact.name);
    out.field(label + " Organization", contact.organisation);
    out.field(label + " Email", contact.email);
    out.field(label + " Country", contact.country);
}

void contactsOf(Lines& out, const Contact& contact, const std::string& within) {
    for (const std::string& role : contact.roles) {
        if (role == "registrar") {
            continue;
        }
        const std::string label = within == "registrar" && role == "abuse"
                                      ? std::string("Registrar Abuse Contact")
                                      : roleLabel(role);
        contactLines(out, label, contact);
    }
}

bool linksTheSameDomain(std::string_view href, std::string_view aLabelName) {
    const std::string tail = "/domain/" + std::string(aLabelName);
    std::string lower = lowered(href);
    if (!lower.empty() && lower.back() == '/') {
        lower.pop_back();
    }
    return isHttpsUrl(href) && lower.size() > tail.size() &&
           lower.compare(lower.size() - tail.size(), tail.size(), tail) == 0;
}

// The lines of a domain object, from its source line on.
RdapAnswer domainAnswer(const Json& answer, std::string_view url, std::string_view aLabelName) {
    RdapAnswer result;
    result.kind = RdapAnswerKind::domain;
    Lines out;
    out.line("% RDAP " + std::string(url));
    out.field("Domain Name", stringAt(answer, "ldhName").value_or(""));
    out.field("Registry Domain ID", stringAt(answer, "handle").value_or(""));

    std::vector<Contact> contacts;
    for (const Json& entity : arrayAt(answer, "entities")) {
        contacts.push_back(readEntity(entity, 0));
    }
    for (const Contact& contact : contacts) {
        if (hasRole(contact, "registrar")) {
            out.field("Registrar", contact.name);
            out.field("Registrar IANA ID", contact.ianaId);
            break;
        }
    }

    std::string updated, created, expires, databaseUpdated;
    for (const Json& json : arrayAt(answer, "events")) {
        const Json& event = objectIn(json, "events");
        const std::string action = lowered(stringAt(event, "eventAction").value_or(""));
        const std::string date = stringAt(event, "eventDate").value_or("");
        std::string* field = action == "last changed"                   ? &updated
                             : action == "registration"                 ? &created
                             : action == "expiration"                   ? &expires
                             : action == "last update of rdap database" ? &databaseUpdated
                                                                        : nullptr;
        if (field != nullptr && field->empty()) {
            *field = date;
        }
    }
    out.field("Updated Date", updated);
    out.field("Creation Date", created);
    out.field("Registry Expiry Date", expires);
    for (const Json& status : arrayAt(answer, "status")) {
        out.field("Domain Status", stringIn(status, "status"));
    }
    for (const Json& json : arrayAt(answer, "nameservers")) {
        out.field("Name Server", stringAt(objectIn(json, "nameservers"), "ldhName").value_or(""));
    }
    if (const Json* secure = find(answer, "secureDNS")) {
        if (const Json* signedDelegation =
                find(objectIn(*secure, "secureDNS"), "delegationSigned")) {
            if (!signedDelegation->is_boolean()) {
                throw WrongType{"delegationSigned"};
            }
            out.field("DNSSEC", signedDelegation->get<bool>() ? "signedDelegation" : "unsigned");
        }
    }

    for (const Contact& contact : contacts) {
        contactsOf(out, contact, "");
        const std::string within = hasRole(contact, "registrar") ? "registrar" : "";
        for (const Contact& nested : contact.entities) {
            contactsOf(out, nested, within);
        }
    }

    for (const char* key : {"remarks", "notices"}) {
        for (const Json& json : arrayAt(answer, key)) {
            const Json& notice = objectIn(json, key);
            out.line("");
            if (const auto title = stringAt(notice, "title")) {
                out.line(*title);
            }
            for (const Json& line : arrayAt(notice, "description")) {
                out.line(stringIn(line, "description"));
            }
        }
    }
    if (!databaseUpdated.empty()) {
        out.line("");
        out.line(">>> Last update of RDAP database: " + databaseUpdated + " <<<");
    }

    for (const Json& json : arrayAt(answer, "links")) {
        const Json& link = objectIn(json, "links");
        const std::string rel = lowered(stringAt(link, "rel").value_or(""));
        const std::string type = lowered(stringAt(link, "type").value_or(""));
        const std::string href = stringAt(link, "href").value_or("");
        if (result.registrarUrl.empty() && rel == "related" && type == "application/rdap+json" &&
            href != url && linksTheSameDomain(href, aLabelName)) {
            result.registrarUrl = href;
        }
    }
    result.text = out.take();
    return result;
}

RdapAnswer notRdap(std::string why) {
    RdapAnswer answer;
    answer.why = std::move(why);
    return answer;
}

}  // namespace

std::optional<RdapBootstrap> parseRdapBootstrap(std::string_view json) {
    std::string why;
    const std::optional<Json> parsed = parseJson(json, why);
    if (!parsed || !parsed->is_object()) {
        return std::nullopt;
    }
    const Json* services = find(*parsed, "services");
    if (services == nullptr || !services->is_array()) {
        return std::nullopt;
    }
    RdapBootstrap bootstrap;
    for (const Json& service : *services) {
        if (!service.is_array() || service.size() < 2 || !service[0].is_array() ||
            !service[1].is_array()) {
            return std::nullopt;
        }
        std::vector<std::string> bases;
        for (const Json& base : service[1]) {
            if (!base.is_string()) {
                return std::nullopt;
            }
            std::string url = base.get<std::string>();
            if (!url.empty() && url.back() != '/') {
                url += '/';
            }
            bases.push_back(std::move(url));
        }
        for (const Json& entry : service[0]) {
            if (!entry.is_string()) {
                return std::nullopt;
            }
            std::string name = lowered(entry.get_ref<const std::string&>());
            if (!name.empty() && name.back() == '.') {
                name.pop_back();
            }
            bootstrap.basesOf.emplace(std::move(name), bases);  // the first service of a name
        }
    }
    return bootstrap;
}

std::vector<std::string> rdapBasesFor(const RdapBootstrap& bootstrap, std::string_view name) {
    for (std::string_view candidate = name; !candidate.empty();) {
        const auto found = bootstrap.basesOf.find(candidate);
        if (found != bootstrap.basesOf.end()) {
            std::vector<std::string> https;
            for (const std::string& base : found->second) {
                if (isHttpsUrl(base)) {
                    https.push_back(base);
                }
            }
            return https;
        }
        const std::size_t dot = candidate.find('.');
        candidate = dot == std::string_view::npos ? std::string_view() : candidate.substr(dot + 1);
    }
    return {};
}

RdapAnswer readRdapAnswer(std::string_view body, long status, std::string_view url,
                          std::string_view aLabelName, std::string_view shownName) {
    if (status != 200 && status != 404) {
        return notRdap("status " + std::to_string(status));
    }
    std::string why;
    const std::optional<Json> parsed = parseJson(body, why);
    if (!parsed) {
        return notRdap(status == 404 ? "status 404 without an RDAP error body (" + why + ")" : why);
    }
    if (!parsed->is_object()) {
        return notRdap("the JSON is no object");
    }
    try {
        bool notFound = status == 404;
        if (const Json* code = find(*parsed, "errorCode")) {
            if (!code->is_number_integer()) {
                throw WrongType{"errorCode"};
            }
            if (code->get<long long>() != 404) {
                return notRdap("error object " + std::to_string(code->get<long long>()));
            }
            notFound = true;
        }
        if (notFound) {
            Lines out;
            out.line("% RDAP " + std::string(url));
            out.line("No match for \"" + upperAscii(shownName) + "\".");
            RdapAnswer answer;
            answer.kind = RdapAnswerKind::notFound;
            answer.text = out.take();
            return answer;
        }
        if (stringAt(*parsed, "objectClassName").value_or("") != "domain") {
            return notRdap("no domain object");
        }
        return domainAnswer(*parsed, url, aLabelName);
    } catch (const WrongType& wrong) {
        return notRdap("\"" + wrong.member + "\" has the wrong type");
    } catch (const Json::exception& failure) {
        return notRdap(std::string("unexpected JSON: ") + failure.what());
    }
}

}  // namespace tessaly
