"""deSEC's IP update API for the tests, after
https://desec.readthedocs.io/en/latest/dyndns/update-api.html: GET on any path not ending in .ico
or .png, the token as "Authorization: Token …" or as the password of basic authentication,
hostname, myipv4 and myipv6 (an address, "preserve" to keep the records of that family, or empty
to delete them: a family left out is deleted too); 200 "good", 401 for a token it does not know,
404 for a name not of the account, 429 with Retry-After when throttled. The account's token is
--set token=…; its name is home.--zone. See providerstandin.py.
"""
import base64

from providerstandin import Answer, StandIn, expect


def update(standin, request):
    expect(not request.path.endswith((".ico", ".png")), "a path ending in .ico or .png")
    for name in request.query:
        expect(name in ("hostname", "myipv4", "myipv6"), f"unknown field {name}")
    hostname = request.one("hostname")
    # Without both fields deSEC would take the connection's address or delete a family.
    given = {"A": request.one("myipv4"), "AAAA": request.one("myipv6")}
    token = standin.values["token"]
    basic = "Basic " + base64.b64encode(f"{hostname}:{token}".encode()).decode()
    if request.header("Authorization") not in (f"Token {token}", basic):
        return Answer(401, {"detail": "Invalid token."})
    if hostname != f"home.{standin.zone}":
        return Answer(404, {"detail": "Not found."})
    records = standin.records()
    for kind, value in given.items():
        if value == "preserve":
            continue
        expect(value == "" or (":" in value) == (kind == "AAAA"), f"{value} is not of type {kind}")
        records = [r for r in records if not (r["name"] == hostname and r["type"] == kind)]
        if value:
            records.append(record(standin, hostname, kind, value, 60))
        standin.save(records)
        standin.publish(hostname, kind, records)
    return Answer(200, "good", content_type="text/plain")


def record(standin, name, kind, content, ttl):
    return {"name": name, "type": kind, "content": content, "ttl": 60}


ERRORS = {"rate": lambda s, r: Answer(429, {"detail": "Request was throttled. Expected "
                                                      "available in 60 seconds."},
                                      {"Retry-After": "60"})}

StandIn([("GET", "/.*", update)], ERRORS, record).serve()
