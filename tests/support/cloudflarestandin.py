"""Cloudflare's API v4 for the tests, as its reference gives it
(https://developers.cloudflare.com/api/resources/dns/subresources/records/ and
https://developers.cloudflare.com/api/resources/zones/methods/list/): zones listed by name, DNS
records listed (page by page), created, edited, deleted and changed in a batch, each answer {"success", "errors", "messages",
"result"}. --set token=T is the valid API token. A proxied record is served as 192.0.2.200 or
2001:db8::cf, addresses of "Cloudflare's own". Switch answers: invalid-token (403, 9109),
malformed-token (400, 6003/6111), no-permission (403, 10000), rate (429, Retry-After 7),
rate-unsaid (429, no Retry-After)."""
import json
import re
import time

from providerstandin import Answer, StandIn, check_fields, expect

ZONE_ID = "023e105f4ecef8ad9ca31a8372d0c353"
PREFIX = "/client/v4"


def envelope(result, status=200):
    return Answer(status, {"success": True, "errors": [], "messages": [], "result": result})


def refusal(status, code, message, chain=None):
    error = {"code": code, "message": message}
    if chain:
        error["error_chain"] = [{"code": c, "message": m} for c, m in chain]
    return Answer(status, {"success": False, "errors": [error], "messages": [], "result": None})


def authorised(standin, request):
    """None when the token is right, else the answer Cloudflare gives."""
    value = request.header("Authorization") or ""
    expect(request.header("X-Auth-Key") is None and request.header("X-Auth-Email") is None,
           "a global key's headers sent with a token")
    if not re.fullmatch(r"Bearer [A-Za-z0-9_-]+", value):
        return refusal(400, 6003, "Invalid request headers",
                       [(6111, "Invalid format for Authorization header")])
    if value != "Bearer " + standin.values["token"]:
        return refusal(403, 9109, "Invalid access token")
    return None


def now():
    return time.strftime("%Y-%m-%dT%H:%M:%S.000000Z", time.gmtime())


def new_record(standin, name, kind, content, ttl):
    return {"id": standin.new_id(), "zone_id": ZONE_ID, "zone_name": standin.zone, "name": name,
            "type": kind, "content": content, "proxiable": True, "proxied": False, "ttl": ttl,
            "comment": None, "tags": [], "created_on": now(), "modified_on": now()}


def served(record):
    if record.get("proxied"):
        return "192.0.2.200" if record["type"] == "A" else "2001:db8::cf"
    return record["content"]


def check_query(request, allowed):
    for key, values in request.query.items():
        expect(key in allowed, f"the query has an unknown parameter \"{key}\"")
        expect(len(values) == 1, f"the query gives \"{key}\" {len(values)} times")


def zones(standin, request):
    refused = authorised(standin, request)
    if refused:
        return refused
    check_query(request, {"name", "status", "account.id", "account.name", "page", "per_page",
                          "order", "direction", "match"})
    name = request.query.get("name", [None])[0]
    found = [{"id": ZONE_ID, "name": standin.zone, "status": "active"}]
    return envelope([z for z in found if name in (None, z["name"])])


def zone_of(request):
    expect(request.match.group(1) == ZONE_ID, f"no zone {request.match.group(1)}")


def list_records(standin, request):
    refused = authorised(standin, request)
    if refused:
        return refused
    zone_of(request)
    check_query(request, {"type", "name", "content", "proxied", "comment", "tags", "page",
                          "per_page", "match", "order", "direction", "search", "name.exact"})
    query = {k: v[0] for k, v in request.query.items()}
    result = [r for r in standin.records()
              if r["type"] == query.get("type", r["type"]) and r["name"] == query.get("name", r["name"])]
    page, per_page = int(query.get("page", "1")), int(query.get("per_page", "100"))
    expect(page >= 1 and 5 <= per_page <= 5000000, f"page {page}, per_page {per_page}")
    answer = envelope(result[(page - 1) * per_page:page * per_page])
    pages = max(1, -(-len(result) // per_page))
    body = json.loads(answer.body)
    body["result_info"] = {"page": page, "per_page": per_page, "count": len(body["result"]),
                           "total_count": len(result), "total_pages": pages}
    return Answer(200, body)


def batch(standin, request):
    """POST …/dns_records/batch: deletes, patches, puts, posts, applied in that order, all or
    none."""
    refused = authorised(standin, request)
    if refused:
        return refused
    zone_of(request)
    body = request.json()
    check_fields(body, {}, {"deletes": list, "patches": list, "puts": list, "posts": list})
    records = standin.records()
    done = {"deletes": [], "patches": [], "puts": [], "posts": []}
    touched = set()

    def find(record_id):
        for record in records:
            if record["id"] == record_id:
                return record
        return None

    for item in body.get("deletes", []):
        check_fields(item, {"id": str}, where="delete")
        record = find(item["id"])
        if record is None:
            return refusal(404, 81044, "Record does not exist.")
        records.remove(record)
        done["deletes"].append(record)
        touched.add((record["name"], record["type"]))
    for item in body.get("patches", []):
        check_fields(item, {"id": str}, RECORD_FIELDS, where="patch")
        record = find(item["id"])
        if record is None:
            return refusal(404, 81044, "Record does not exist.")
        record.update({k: v for k, v in item.items() if k != "id"})
        done["patches"].append(record)
        touched.add((record["name"], record["type"]))
    expect(not body.get("puts"), "puts are not used here")
    for item in body.get("posts", []):
        check_fields(item, {"type": str, "name": str, "content": str},
                     {k: v for k, v in RECORD_FIELDS.items() if k not in ("type", "name", "content")},
                     where="post")
        check_ttl(item.get("ttl", 1))
        record = new_record(standin, item["name"], item["type"], item["content"], item.get("ttl", 1))
        record.update({k: v for k, v in item.items() if k in ("proxied", "comment", "tags")})
        records.append(record)
        done["posts"].append(record)
        touched.add((record["name"], record["type"]))
    standin.save(records)
    for name, kind in sorted(touched):
        standin.publish(name, kind, records)
    return envelope(done)


def check_ttl(ttl):
    """1 is automatic; otherwise 30 (Enterprise zones) to 86400 seconds."""
    expect(ttl == 1 or 30 <= ttl <= 86400, f"ttl {ttl} out of range")


RECORD_FIELDS = {"name": str, "type": str, "content": str, "ttl": int, "proxied": bool,
                 "comment": (str, type(None)), "tags": list}


def create_record(standin, request):
    refused = authorised(standin, request)
    if refused:
        return refused
    zone_of(request)
    body = request.json()
    check_fields(body, {"type": str, "name": str, "content": str},
                 {k: v for k, v in RECORD_FIELDS.items() if k not in ("type", "name", "content")})
    ttl = body.get("ttl", 1)
    check_ttl(ttl)
    records = standin.records()
    if any(r["type"] == body["type"] and r["name"] == body["name"] and r["content"] == body["content"]
           for r in records):
        return refusal(400, 81057, "Record already exists.")
    record = new_record(standin, body["name"], body["type"], body["content"], ttl)
    record.update({k: v for k, v in body.items() if k in ("proxied", "comment", "tags")})
    records.append(record)
    standin.save(records)
    standin.publish(record["name"], record["type"], records)
    return envelope(record)


def edit_record(standin, request):
    refused = authorised(standin, request)
    if refused:
        return refused
    zone_of(request)
    body = request.json()
    check_fields(body, {}, RECORD_FIELDS)
    records = standin.records()
    for record in records:
        if record["id"] == request.match.group(2):
            record.update(body)
            record["modified_on"] = now()
            standin.save(records)
            standin.publish(record["name"], record["type"], records)
            return envelope(record)
    return refusal(404, 81044, "Record does not exist.")


def delete_record(standin, request):
    refused = authorised(standin, request)
    if refused:
        return refused
    zone_of(request)
    expect(request.body == b"", "a body with DELETE")
    records = standin.records()
    for record in records:
        if record["id"] == request.match.group(2):
            records.remove(record)
            standin.save(records)
            standin.publish(record["name"], record["type"], records)
            return envelope({"id": record["id"]})
    return refusal(404, 81044, "Record does not exist.")


ERRORS = {
    "invalid-token": lambda s, r: refusal(403, 9109, "Invalid access token"),
    "malformed-token": lambda s, r: refusal(400, 6003, "Invalid request headers",
                                            [(6111, "Invalid format for Authorization header")]),
    "no-permission": lambda s, r: refusal(403, 10000, "Authentication error"),
    "rate": lambda s, r: Answer(429, {"success": False, "errors": [
        {"code": 971, "message": "Please wait and consider throttling your request speed"}],
        "messages": [], "result": None}, {"Retry-After": "7"}),
    "rate-unsaid": lambda s, r: Answer(429, {"success": False, "errors": [
        {"code": 971, "message": "Please wait and consider throttling your request speed"}],
        "messages": [], "result": None}),
}

RECORDS = PREFIX + r"/zones/([^/]+)/dns_records"
StandIn([("GET", PREFIX + "/zones", zones),
         ("GET", RECORDS, list_records),
         ("POST", RECORDS, create_record),
         ("POST", RECORDS + "/batch", batch),
         ("PATCH", RECORDS + r"/([^/]+)", edit_record),
         ("DELETE", RECORDS + r"/([^/]+)", delete_record)],
        ERRORS, new_record, served).serve()
