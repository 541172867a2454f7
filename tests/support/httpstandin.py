"""A provider of its own for the http template's tests: GET /update?host=NAME&ip=ADDRESS with
"Authorization: Bearer TOKEN" (--set token=T) answers "ok: NAME is ADDRESS" and applies it.
Switch answers: refused (403), rate (429, Retry-After 5), rate-date (503, Retry-After five
minutes ahead as an HTTP date)."""
import email.utils
import time

from providerstandin import Answer, StandIn, expect


def update(standin, request):
    expect(set(request.query) == {"host", "ip"}, f"the query is {request.raw_query!r}")
    if request.header("Authorization") != "Bearer " + standin.values["token"]:
        return Answer(403, "bad token", content_type="text/plain")
    name, address = request.one("host"), request.one("ip")
    kind = "AAAA" if ":" in address else "A"
    records = [r for r in standin.records() if not (r["name"] == name and r["type"] == kind)]
    records.append({"name": name, "type": kind, "content": address, "ttl": 60})
    standin.save(records)
    standin.publish(name, kind, records)
    return Answer(200, f"ok: {name} is {address}", content_type="text/plain")


ERRORS = {
    "refused": lambda s, r: Answer(403, "bad token", content_type="text/plain"),
    "rate": lambda s, r: Answer(429, "slow down", {"Retry-After": "5"}, content_type="text/plain"),
    "rate-date": lambda s, r: Answer(503, "later", {"Retry-After": email.utils.formatdate(
        time.time() + 300, usegmt=True)}, content_type="text/plain"),
}

StandIn([("GET", "/update", update)], ERRORS,
        lambda s, name, kind, content, ttl: {"name": name, "type": kind, "content": content,
                                             "ttl": ttl}).serve()
