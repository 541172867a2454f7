"""The Hetzner Cloud API's DNS for the tests, after https://docs.hetzner.cloud/reference/cloud
(Zones, Zone RRSets, Actions): "Authorization: Bearer …"; GET /v1/zones/{zone}/rrsets/{name}/{type}
(404 not_found where there is none), POST /v1/zones/{zone}/rrsets to create one ({name, type, ttl,
records}), POST …/{name}/{type}/actions/set_records ({records}) and …/actions/change_ttl ({ttl}),
each answering an action that GET /v1/actions/{id} reports running, then success or error. Errors
are {"error": {"code", "message", "details"}}: 401 unauthorized, 403 forbidden, 429
rate_limit_exceeded with RateLimit-Reset. The zone is --zone (by name), the token --set token=…;
a switch "slow_action" keeps actions running one more question, "action_error" fails them.
See providerstandin.py.
"""
import itertools
import time

from providerstandin import Answer, StandIn, check_fields, expect

actions = {}
numbers = itertools.count(101)


def error(status, code, message, headers=None):
    return Answer(status, {"error": {"code": code, "message": message, "details": {}}}, headers)


def authorized(standin, request):
    return request.header("Authorization") == "Bearer " + standin.values["token"]


def fqdn(standin, name):
    expect(name == "@" or (name == name.lower() and not name.endswith((".", standin.zone))),
           f"rrset name {name!r}: lower case, relative to the zone, @ for the zone itself")
    return standin.zone if name == "@" else f"{name}.{standin.zone}"


def rrset(standin, name, kind, records):
    mine = [r for r in records if r["name"] == fqdn(standin, name) and r["type"] == kind]
    if not mine:
        return None
    return {"id": f"{name}/{kind}", "name": name, "type": kind, "ttl": mine[0]["ttl"],
            "labels": {}, "protection": {"change": False}, "zone": 42,
            "records": [{"value": r["content"], "comment": r["comment"]} for r in mine]}


def action(command, status="running"):
    number = next(numbers)
    actions[number] = {"id": number, "command": command, "status": status, "progress": 0,
                       "started": "2026-01-01T00:00:00Z", "finished": None,
                       "resources": [{"id": 42, "type": "zone"}], "error": None}
    return actions[number]


def checked(standin, request, kind=None):
    if not authorized(standin, request):
        return error(401, "unauthorized", "unable to authenticate")
    expect(request.raw_query == "", "a query string")
    if request.match.group("zone") != standin.zone:
        return error(404, "not_found", "zone not found")
    if kind is not None:
        expect(kind in ("A", "AAAA"), f"type {kind}")
    return None


def values(standin, body, kind):
    expect(isinstance(body["records"], list) and body["records"], "records is empty")
    for one in body["records"]:
        check_fields(one, {"value": str}, {"comment": str}, "record")
        expect((":" in one["value"]) == (kind == "AAAA"), f"{one['value']} is not of type {kind}")
    return body["records"]


def get_rrset(standin, request):
    name, kind = request.match.group("name"), request.match.group("type")
    refused = checked(standin, request, kind)
    if refused:
        return refused
    found = rrset(standin, name, kind, standin.records())
    return Answer(200, {"rrset": found}) if found else error(404, "not_found", "rrset not found")


def create_rrset(standin, request):
    refused = checked(standin, request)
    if refused:
        return refused
    body = request.json()
    check_fields(body, {"name": str, "type": str, "records": list},
                 {"ttl": int, "labels": dict})
    name, kind = body["name"], body["type"]
    expect(kind in ("A", "AAAA"), f"type {kind}")
    records = standin.records()
    if rrset(standin, name, kind, records):
        return error(409, "uniqueness_error", "rrset with the same name and type already exists")
    for one in values(standin, body, kind):
        records.append({"name": fqdn(standin, name), "type": kind, "content": one["value"],
                        "ttl": body.get("ttl", 3600), "comment": one.get("comment", "")})
    standin.save(records)
    standin.publish(fqdn(standin, name), kind, records)
    return Answer(201, {"rrset": rrset(standin, name, kind, records),
                        "action": action("create_rrset")})


def rrset_action(standin, request):
    name, kind = request.match.group("name"), request.match.group("type")
    refused = checked(standin, request, kind)
    if refused:
        return refused
    records = standin.records()
    found = rrset(standin, name, kind, records)
    if not found:
        return error(404, "not_found", "rrset not found")
    body = request.json()
    command = request.match.group("action")
    mine = [r for r in records if r["name"] == fqdn(standin, name) and r["type"] == kind]
    others = [r for r in records if r not in mine]
    if command == "set_records":
        check_fields(body, {"records": list})
        mine = [{"name": fqdn(standin, name), "type": kind, "content": one["value"],
                 "ttl": found["ttl"], "comment": one.get("comment", "")}
                for one in values(standin, body, kind)]
    else:
        check_fields(body, {"ttl": int})
        for r in mine:
            r["ttl"] = body["ttl"]
    standin.save(others + mine)
    standin.publish(fqdn(standin, name), kind, others + mine)
    return Answer(201, {"action": action(command)})


def get_action(standin, request):
    if not authorized(standin, request):
        return error(401, "unauthorized", "unable to authenticate")
    found = actions.get(int(request.match.group("id")))
    if not found:
        return error(404, "not_found", "action not found")
    if standin.switch_answer(request) == "slow_action" and found["progress"] == 0:
        found["progress"] = 50
    elif standin.switch_answer(request) == "action_error":
        found.update(status="error", progress=100, finished="2026-01-01T00:00:01Z",
                     error={"code": "action_failed", "message": "the zone could not be changed"})
    else:
        found.update(status="success", progress=100, finished="2026-01-01T00:00:01Z")
    return Answer(200, {"action": found})


def record(standin, name, kind, content, ttl):
    return {"name": name, "type": kind, "content": content, "ttl": ttl, "comment": "by hand"}


ERRORS = {
    "rate": lambda s, r: error(429, "rate_limit_exceeded", "limit of 3600 requests per hour "
                               "reached", {"RateLimit-Limit": "3600", "RateLimit-Remaining": "0",
                                           "RateLimit-Reset": str(int(time.time()) + 75)}),
    "forbidden": lambda s, r: error(403, "forbidden", "insufficient permissions for this "
                                    "request: the token is read only"),
}

RRSET = r"/v1/zones/(?P<zone>[^/]+)/rrsets/(?P<name>[^/]+)/(?P<type>[^/]+)"
StandIn([("GET", RRSET, get_rrset),
         ("POST", r"/v1/zones/(?P<zone>[^/]+)/rrsets", create_rrset),
         ("POST", RRSET + r"/actions/(?P<action>set_records|change_ttl)", rrset_action),
         ("GET", r"/v1/actions/(?P<id>\d+)", get_action)], ERRORS, record).serve()
