// The sync server's HTTP API, relative to the page's own address (a server behind a proxy may live under a path).
export class CloudError extends Error {
    constructor(name, message, status = 0) {
        super(message);
        this.name = name;
        this.status = status;
    }
}

export class Cloud {
    constructor(token) {
        this.token = token;
    }

    get(path) {
        return this.request('GET', path);
    }

    post(path, body) {
        return this.request('POST', path, body);
    }

    async request(method, path, body) {
        const headers = { Authorization: `Bearer ${this.token}` };
        if (body !== undefined) headers['Content-Type'] = 'application/json';
        let response;
        try {
            response = await fetch(path, { method, headers, cache: 'no-store',
                body: body === undefined ? undefined : JSON.stringify(body) });
        } catch {
            throw new CloudError('networkFailure', 'the server cannot be reached');
        }
        let answer = null;
        try {
            answer = await response.json();
        } catch {
            // Said below: an answer that is not JSON is no answer.
        }
        if (response.ok && answer && typeof answer === 'object') return answer;
        if (response.ok) throw new CloudError('networkFailure', "the server's answer could not be read");
        const error = answer?.error;
        if (response.status === 401)
            throw new CloudError('notAuthenticated', 'the token was not accepted', 401);
        throw new CloudError(error?.name ?? 'serverError', error?.message ?? `the server answered HTTP ${response.status}`,
            response.status);
    }

    // The push channel's address: ws: or wss: as the page's own.
    static pushAddress() {
        const url = new URL('v1/push', document.baseURI);
        url.protocol = url.protocol === 'https:' ? 'wss:' : 'ws:';
        return url.href;
    }
}
