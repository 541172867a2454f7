"""DuckDNS for the tests, after the HTTP API page of https://www.duckdns.org/: GET /update with domains,
token, ip and/or ipv6 and verbose=true; OK (with verbose, the addresses and UPDATED or NOCHANGE
on the next lines) or KO in plain text. The account's token is --set token=…; its one domain is
"home" of --zone (home.example.test). See providerstandin.py.
"""
from providerstandin import Answer, StandIn, expect


def update(standin, request):
    for name in request.query:
        expect(name in ("domains", "token", "ip", "ipv6", "verbose"), f"unknown field {name}")
    domains, token = request.one("domains"), request.one("token")
    expect(request.one("verbose") == "true", "verbose is not true")
    given = {kind: request.one(field) for field, kind in (("ip", "A"), ("ipv6", "AAAA"))
             if field in request.query}
    expect(given, "neither ip nor ipv6: DuckDNS would take the address the request came from")
    for kind, address in given.items():
        expect((":" in address) == (kind == "AAAA"), f"{address} is not of type {kind}")
    if token != standin.values["token"] or domains != "home":
        return Answer(200, "KO", content_type="text/plain")
    name = f"home.{standin.zone}"
    records = standin.records()
    changed = False
    for kind, address in given.items():
        if [r["content"] for r in records if r["name"] == name and r["type"] == kind] != [address]:
            records = [r for r in records if not (r["name"] == name and r["type"] == kind)]
            records.append(record(standin, name, kind, address, 60))
            standin.save(records)
            standin.publish(name, kind, records)
            changed = True
    return Answer(200, "OK\n%s\n%s\n%s" % (given.get("A", ""), given.get("AAAA", ""),
                                          "UPDATED" if changed else "NOCHANGE"),
                  content_type="text/plain")


def record(standin, name, kind, content, ttl):
    return {"name": name, "type": kind, "content": content, "ttl": 60}


# DuckDNS documents no rate answer; this is what any web server in front of it would give.
ERRORS = {"rate": lambda s, r: Answer(429, "Too Many Requests", {"Retry-After": "90"},
                                      content_type="text/plain")}

StandIn([("GET", "/update", update)], ERRORS, record).serve()
