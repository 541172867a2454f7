"""Namecheap's dynamic DNS for the tests, after
https://www.namecheap.com/support/knowledgebase/article.aspx/29/11/how-do-i-use-a-browser-to-dynamically-update-the-hosts-ip:
GET /update with host (the label, "@" for the domain itself), domain, password (the domain's
Dynamic DNS password) and ip, IPv4 only; an XML interface-response whose ErrCount counts the
errors and Err1 names the first. Only an existing A + Dynamic DNS record can be updated. The
domain is --zone, its password --set password=…. See providerstandin.py.
"""
from providerstandin import Answer, StandIn, expect


def answer(errors, ip=None):
    text = ('<?xml version="1.0" encoding="utf-16"?>\r\n<interface-response>\r\n'
            "  <Command>SETDNSHOST</Command>\r\n  <Language>eng</Language>\r\n")
    if ip:
        text += f"  <IP>{ip}</IP>\r\n"
    text += f"  <ErrCount>{len(errors)}</ErrCount>\r\n"
    if errors:
        text += "  <errors>\r\n" + "".join(
            f"    <Err{n}>{error}</Err{n}>\r\n" for n, error in enumerate(errors, 1))
        text += "  </errors>\r\n"
    text += ("  <ResponseCount>0</ResponseCount>\r\n  <Done>true</Done>\r\n"
             "  <debug><![CDATA[]]></debug>\r\n</interface-response>")
    return Answer(200, text, content_type="text/html; charset=utf-8")


def update(standin, request):
    for name in request.query:
        expect(name in ("host", "domain", "password", "ip"), f"unknown field {name}")
    host, domain = request.one("host"), request.one("domain")
    password, ip = request.one("password"), request.one("ip")
    expect(ip.count(".") == 3 and ":" not in ip, f"{ip} is not an IPv4 address")
    expect(host == "@" or not host.endswith("." + domain), "host holds the domain")
    if domain != standin.zone:
        return answer(["Domain name not found"])
    if password != standin.values["password"]:
        return answer(["Passwords do not match"])
    name = domain if host == "@" else f"{host}.{domain}"
    records = standin.records()
    found = [r for r in records if r["name"] == name and r["type"] == "A"]
    if not found:
        return answer(["No Records updated. A record not Found;"])
    ttl = found[0]["ttl"]
    records = [r for r in records if r not in found] + [record(standin, name, "A", ip, ttl)]
    standin.save(records)
    standin.publish(name, "A", records)
    return answer([], ip)


def record(standin, name, kind, content, ttl):
    return {"name": name, "type": kind, "content": content, "ttl": ttl}


ERRORS = {"rate": lambda s, r: Answer(429, "Too Many Requests", {"Retry-After": "120"},
                                      content_type="text/plain")}

StandIn([("GET", "/update", update)], ERRORS, record).serve()
