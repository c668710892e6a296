#include "whois/whois_servers.h"

#include <array>

namespace tessaly {
namespace {

// Servers that answer for more than one key.
constexpr std::string_view europeanRir = "whois.ripe.net";
constexpr std::string_view multiCountryRegistry = "whois2.afilias-grs.net";  // hn la sc vc
constexpr std::string_view cxRegistry = "whois.nic.cx";                      // cx dm nf
constexpr std::string_view ruRegistry = "whois.tcinet.ru";                   // ru su
constexpr std::string_view tcRegistry = "whois.nic.tc";                      // tc vg
constexpr std::string_view tlRegistry = "whois.nic.tl";                      // tl tp

// clang-format off
constexpr std::array<WhoisServerEntry, 158> table{{
    {"com",              registrarWhoisHost},
    {"net",              registrarWhoisHost},
    {"cn",               registrarWhoisHost},
    {"org",              registrarWhoisHost},
    {"info",             registrarWhoisHost},
    {"tv",               registrarWhoisHost},
    {"cc",               registrarWhoisHost},
    {"biz",              registrarWhoisHost},
    {"asia",             registrarWhoisHost},
    {"name",             "whois.nic.name"},
    {"edu",              "whois.educause.edu"},
    {"gov",              "whois.dotgov.gov"},
    {"tel",              registrarWhoisHost},
    {"mobi",             registrarWhoisHost},
    {"so",               registrarWhoisHost},
    {"co",               registrarWhoisHost},
    {"me",               registrarWhoisHost},
    {"\xD6\xD0\xB9\xFA", registrarWhoisHost},  // 中国
    {"\xB9\xAB\xCB\xBE", registrarWhoisHost},  // 公司
    {"\xCD\xF8\xC2\xE7", registrarWhoisHost},  // 网络
    {"tk",               "whois.dot.tk"},
    {"ml",               "whois.dot.ml"},
    {"ga",               "whois.my.ga"},
    {"cf",               "whois.dot.cf"},
    {"sm",               "whois.nic.sm"},
    {"jp",               "whois.jprs.jp"},
    {"ac",               "whois.nic.ac"},
    {"ae",               "whois.aeda.net.ae"},
    {"aero",             "whois.aero"},
    {"af",               "whois.nic.af"},
    {"ag",               "whois.nic.ag"},
    {"al",               europeanRir},
    {"am",               "whois.amnic.net"},
    {"as",               "whois.nic.as"},
    {"at",               "whois.nic.at"},
    {"au",               "whois.auda.org.au"},
    {"ax",               "whois.ax"},
    {"az",               europeanRir},
    {"ba",               europeanRir},
    {"be",               "whois.dns.be"},
    {"bg",               "whois.register.bg"},
    {"bi",               "whois1.nic.bi"},
    {"bj",               "whois.nic.bj"},
    {"br",               "whois.registro.br"},
    {"bt",               "whois.nic.bt"},
    {"by",               "whois.cctld.by"},
    {"bz",               "whois.nic.bz"},
    {"ca",               "whois.cira.ca"},
    {"cat",              "whois.nic.cat"},
    {"cd",               "whois.nic.cd"},
    {"ch",               "whois.nic.ch"},
    {"ck",               "whois.nic.ck"},
    {"cl",               "whois.nic.cl"},
    {"cx",               cxRegistry},
    {"cy",               europeanRir},
    {"cz",               "whois.nic.cz"},
    {"de",               "whois.denic.de"},
    {"dk",               "whois.punktum.dk"},
    {"dm",               cxRegistry},
    {"dz",               "whois.nic.dz"},
    {"ee",               "whois.tld.ee"},
    {"eg",               europeanRir},
    {"es",               "whois.nic.es"},
    {"eu",               "whois.eu"},
    {"fi",               "whois.fi"},
    {"fo",               "whois.nic.fo"},
    {"fr",               "whois.nic.fr"},
    {"gb",               europeanRir},
    {"ge",               europeanRir},
    {"gl",               "whois.nic.gl"},
    {"gm",               europeanRir},
    {"gr",               europeanRir},
    {"gs",               "whois.nic.gs"},
    {"hk",               "whois.hkirc.hk"},
    {"hm",               "whois.registry.hm"},
    {"hn",               multiCountryRegistry},
    {"hr",               "whois.dns.hr"},
    {"hu",               "whois.nic.hu"},
    {"ie",               "whois.weare.ie"},
    {"il",               "whois.isoc.org.il"},
    {"in",               "whois.registry.in"},
    {"int",              "whois.iana.org"},
    {"io",               "whois.nic.io"},
    {"iq",               "whois.cmc.iq"},
    {"ir",               "whois.nic.ir"},
    {"is",               "whois.isnic.is"},
    {"it",               "whois.nic.it"},
    {"je",               "whois.je"},
    {"jobs",             "whois.nic.jobs"},
    {"ke",               "whois.kenic.or.ke"},
    {"kg",               "whois.kg"},
    {"kr",               "whois.kr"},
    {"la",               multiCountryRegistry},
    {"li",               "whois.nic.li"},
    {"lt",               "whois.domreg.lt"},
    {"lu",               "whois.dns.lu"},
    {"lv",               "whois.nic.lv"},
    {"ly",               "whois.nic.ly"},
    {"ma",               "whois.registre.ma"},
    {"mc",               europeanRir},
    {"md",               "whois.nic.md"},
    {"mil",              "whois.nic.mil"},
    {"mk",               europeanRir},
    {"ms",               "whois.nic.ms"},
    {"mt",               europeanRir},
    {"mu",               "whois.nic.mu"},
    {"mx",               "whois.mx"},
    {"my",               "whois.mynic.my"},
    {"nf",               cxRegistry},
    {"ng",               "whois.nic.net.ng"},
    {"nl",               "whois.domain-registry.nl"},
    {"no",               "whois.norid.no"},
    {"nu",               "whois.iis.nu"},
    {"nz",               "whois.irs.net.nz"},
    {"pl",               "whois.dns.pl"},
    {"pr",               "whois.nic.pr"},
    {"pro",              "whois.nic.pro"},
    {"pt",               "whois.dns.pt"},
    {"pw",               "whois.nic.pw"},
    {"ro",               "whois.rotld.ro"},
    {"ru",               ruRegistry},
    {"sa",               "whois.nic.net.sa"},
    {"sb",               "whois.nic.net.sb"},
    {"sc",               multiCountryRegistry},
    {"se",               "whois.iis.se"},
    {"sg",               "whois.sgnic.sg"},
    {"sh",               "whois.nic.sh"},
    {"si",               "whois.register.si"},
    {"sk",               "whois.sk-nic.sk"},
    {"st",               "whois.nic.st"},
    {"su",               ruRegistry},
    {"tc",               tcRegistry},
    {"tf",               "whois.nic.tf"},
    {"th",               "whois.thnic.co.th"},
    {"tj",               "whois.nic.tj"},
    {"tl",               tlRegistry},
    {"tm",               "whois.nic.tm"},
    {"tn",               "whois.ati.tn"},
    {"to",               "whois.tonic.to"},
    {"tp",               tlRegistry},
    {"tr",               "whois.trabis.gov.tr"},
    {"travel",           "whois.nic.travel"},
    {"tw",               "whois.twnic.net.tw"},
    {"tz",               "whois.tznic.or.tz"},
    {"ua",               "whois.ua"},
    {"uk",               "whois.nic.uk"},
    {"us",               "whois.nic.us"},
    {"uy",               "whois.nic.org.uy"},
    {"uz",               "whois.cctld.uz"},
    {"va",               europeanRir},
    {"vc",               multiCountryRegistry},
    {"ve",               "whois.nic.ve"},
    {"vg",               tcRegistry},
    {"ws",               "whois.website.ws"},
    {"xxx",              "whois.nic.xxx"},
    {"yu",               europeanRir},
    {"za",               "whois.registry.net.za"},
    {"sx",               "whois.sx"},
}};
// clang-format on

}  // namespace

std::span<const WhoisServerEntry> whoisServerTable() {
    return table;
}

Text whoisServerFor(std::string_view label) {
    for (const WhoisServerEntry& entry : table) {
        if (sameText(entry.key, label)) {
            return Text(entry.server);
        }
    }
    return Text();
}

}  // namespace tessaly
